// The allocator's settings, read by jemalloc when the program starts (the
// programs link it: CMakeLists.txt); with any other malloc the string is
// never read.
//
// Why jemalloc, and why these settings: on the virtual machines we measure
// on, the first write to a 4 KiB page of fresh memory costs about 10 us
// (0.4 GB/s), and a run allocates afresh, phase after phase, its search
// orders, sample sets, distance arrays and refinement levels. glibc's malloc
// backs them with small pages and gives large freed blocks back to the
// kernel at once, so each phase faults its pages in again: a surface run
// of rs1_normals.ply against rs22_proc2.ply took 93 000 faults and a
// quarter of its time there. jemalloc keeps freed memory for reuse, and
// thp:always asks for transparent huge pages (one fault per 2 MiB) on
// every mapping it makes.
extern "C" {
const char* malloc_conf = "thp:always,metadata_thp:auto";
}

#include "qem/qem_error.h"

float qemError(float s12, float s21, std::size_t n1, std::size_t n2)
{
    if (n1 == 0 && n2 == 0)
        return 0.0f;
    float s12Squared = s12 * s12;
    float s21Squared = s21 * s21;
    return float((double(s12Squared) + double(s21Squared)) / double(n1 + n2));
}

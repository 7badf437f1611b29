#include "design/TParameters.h"

namespace {

template <typename T>
void fill(T (&target)[TParameters::SpeedCount], T a, T b, T c, T d)
{
    target[0] = a;
    target[1] = b;
    target[2] = c;
    target[3] = d;
}

} // namespace

TParameters::TParameters()
{
    fill<quint8>(silenceParMin, 4, 27, 24, 23);
    fill<quint8>(silenceParMax, 63, 63, 63, 63);
    fill<quint8>(secondParMin, 4, 30, 24, 23);
    fill<quint8>(turnAroundParMin, 3, 45, 26, 63);
    fill<quint8>(turnAroundParMax, 63, 63, 63, 63);
    fill<quint8>(secondParMax, 3, 45, 26, 63);
    fill<float>(silenceUnit, 1024.0f, 5.0f, 4.0f, 4.0f);
    fill<float>(turnAroundUnit, 128.0f, 0.625f, 0.5f, 0.5f);
    fill<float>(bitTime, 32.0f, 1.0f, 0.4f, 0.2f);
}

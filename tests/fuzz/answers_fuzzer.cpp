#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    FuzzAnswers(Data, Size);
    return 0;
}

#include "fuzz/fuzz_common.h"
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzMdbWrite(data, size);
    return 0;
}

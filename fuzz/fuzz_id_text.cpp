// SPDX-License-Identifier: MIT
// Fuzzes tqmovie_id_in_text: the text lies in a buffer of exactly its length (ASan
// sees any read past it), and the answer is always a well-formed id or nothing.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<char> text(data, data + size);
    char out[16];
    std::memset(out, 'x', sizeof out);
    const int32_t n = tqmovie_id_in_text(size ? text.data() : nullptr, size, out, sizeof out);
    FUZZ_CHECK(n >= 0 && n <= 12);
    FUZZ_CHECK(std::strlen(out) == static_cast<size_t>(n));
    if (n > 0) {
        FUZZ_CHECK(n >= 9 && out[0] == 't' && out[1] == 't');
        for (int32_t i = 2; i < n; ++i) FUZZ_CHECK(out[i] >= '0' && out[i] <= '9');
    }
    return 0;
}

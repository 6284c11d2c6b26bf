// SPDX-License-Identifier: MIT
// Fuzzes the translations document decoder over the whole input and over the text up
// to its first NUL (what a lookup decodes).
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_body body(data, size);
    for (size_t len : body.lengths()) {
        tq_trans *out = nullptr;
        size_t count = 0;
        const int32_t st = tq_parse_trans_doc(body.text, len, &out, &count);
        FUZZ_CHECK(is_status(st));
        if (count > 0) FUZZ_CHECK(out != nullptr);
        FUZZ_CHECK((st == TQMOVIE_OK) == (count > 0));
        if (st == TQMOVIE_ERR_PARSE) {
            FUZZ_CHECK(out == nullptr);
            const char *err = tqmovie_last_error();
            FUZZ_CHECK(std::strcmp(err, "yyjson parse failed") == 0 ||
                       std::strcmp(err, "expected translations array") == 0);
        }
        for (size_t i = 0; i < count; ++i) {
            check_list(out[i].items, out[i].items_count);
            for (size_t j = 0; j < out[i].items_count; ++j) {
                const tq_trans_item &it = out[i].items[j];
                const char *fields[] = {it.title, it.tagline, it.plot, it.directors, it.actors, it.lang, it.region};
                for (const char *f : fields)
                    if (f) (void)std::strlen(f);
            }
            tq_free_trans(&out[i]);
        }
        std::free(out);
    }
    return 0;
}

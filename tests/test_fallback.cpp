// SPDX-License-Identifier: MIT
// Language fallback: empty texts filled from the chain's languages, field by field,
// with a request only while a field is still empty.
#include "tqmovie.h"

#ifdef TQ_SERVICE_PATH
#  include "mock_service.h"
#endif

#include <gtest/gtest.h>

#include <string>

namespace {

std::string field_lang(bool detail, const char *field, int32_t i = 0) {
    char out[32];
    const int32_t n = detail ? tqmovie_detail_field_language(i, field, out, sizeof out)
                             : tqmovie_basic_field_language(i, field, out, sizeof out);
    return n < 0 ? "(none)" : out;
}

TEST(Fallback, ChainIsChecked) {
    const struct {
        const char *chain, *text;
    } bad[] = {{"en-US,", "bad language fallback: an empty language"},
               {",en-US", "bad language fallback: an empty language"},
               {"en US", "bad language fallback: only letters, digits, '-' and '_' in a language"},
               {"a,b,c,d,e,f,g,h,i", "bad language fallback: more than 8 languages"},
               {"abcdefghijklmnopqrstuvwxyz0123456", "bad language fallback: a language over 31 bytes"}};
    for (const auto &b : bad) {
        EXPECT_EQ(tqmovie_set_language_fallback(b.chain), TQMOVIE_ERR_ARG) << b.chain;
        EXPECT_STREQ(tqmovie_last_error(), b.text);
    }
    EXPECT_EQ(tqmovie_set_language_fallback("pt-PT,en-US"), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_set_language_fallback(nullptr), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_set_language_fallback(""), TQMOVIE_OK);
}

TEST(Fallback, FieldLanguageWithoutFallback) {
    tqmovie_client *c = tqmovie_client_new();
    tqmovie_use(c);
    const tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&io);
    ASSERT_EQ(tqmovie_get_detail("tt0111161", "pt-BR", 0), TQMOVIE_OK);
    EXPECT_EQ(field_lang(true, "plot"), "pt-BR");
    EXPECT_EQ(field_lang(true, "poster_url"), "(none)"); // not a field that is filled
    EXPECT_EQ(field_lang(true, "plot", 1), "(none)");
    EXPECT_EQ(field_lang(false, "plot"), "(none)"); // no basic record held
    char small[3] = "xx";
    EXPECT_EQ(tqmovie_detail_field_language(0, "plot", small, sizeof small), -1);
    EXPECT_STREQ(small, "");
    const char *ids[] = {"tt0111161"};
    ASSERT_EQ(tqmovie_get_basics(ids, 1), TQMOVIE_OK);
    EXPECT_EQ(field_lang(false, "title"), "en-US");
    tqmovie_use(nullptr);
    tqmovie_client_free(c);
}

#ifdef TQ_SERVICE_PATH
// The stand-in's synthetic de-DE records have an empty plot; every other text is set.
TEST(Fallback, EmptyFieldsComeFromTheNextLanguageOnlyWhenNeeded) {
    tqtest::scoped_service svc(TQ_FIXTURES_DIR, {"--synthetic"});
    ASSERT_GT(svc.port, 0);
    tqmovie_client *c = tqmovie_client_new();
    tqmovie_use(c);
    tq_io io = tolvane_io_curl_pooled(nullptr);
    tqmovie_set_io(&io);
    tqmovie_set_host(svc.url().c_str());
    ASSERT_EQ(tqmovie_set_language_fallback("de-DE,pt-BR,en-US"), TQMOVIE_OK);

    ASSERT_EQ(tqmovie_get_detail("tt1000001", "de-DE", 0), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_STREQ(tqmovie_detail_plot(0), "Plot of tt1000001 in pt-BR");
    EXPECT_EQ(field_lang(true, "plot"), "pt-BR");
    EXPECT_EQ(field_lang(true, "title"), "de-DE");
    EXPECT_EQ(tqtest::stat(svc), 2) << "de-DE, then pt-BR; en-US was not needed";
    // Again: the lookup's record from the cache, the fallback's from its own table.
    ASSERT_EQ(tqmovie_get_detail("tt1000001", "de-DE", 0), TQMOVIE_OK);
    EXPECT_STREQ(tqmovie_detail_plot(0), "Plot of tt1000001 in pt-BR");
    EXPECT_EQ(tqtest::stat(svc), 2);
    // The fallback's record never took the lookup's own place in the cache.
    int32_t basic_fresh = 0, detail_fresh = 0;
    tqmovie_set_language_fallback(nullptr);
    ASSERT_EQ(tqmovie_get_detail("tt1000001", "de-DE", 0), TQMOVIE_OK);
    EXPECT_STREQ(tqmovie_detail_plot(0), "");
    EXPECT_EQ(tqmovie_cache_has("tt1000001", &basic_fresh, &detail_fresh), 1);
    EXPECT_EQ(tqtest::stat(svc), 2);
    // A record with nothing empty asks nothing more; a basic lookup fills as well.
    tqmovie_set_language_fallback("en-US");
    ASSERT_EQ(tqmovie_get_basic("tt1000002", "pt-BR"), TQMOVIE_OK);
    EXPECT_EQ(tqtest::stat(svc), 3);
    ASSERT_EQ(tqmovie_get_basic("tt1000002", "de-DE"), TQMOVIE_OK);
    EXPECT_STREQ(tqmovie_basic_plot(0), "Plot of tt1000002 in en-US");
    EXPECT_EQ(field_lang(false, "plot"), "en-US");
    EXPECT_EQ(tqtest::stat(svc), 5);
    tqmovie_use(nullptr);
    tqmovie_client_free(c);
    tolvane_io_curl_pooled_free(&io);
}
#endif

} // namespace

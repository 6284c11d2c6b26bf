// SPDX-License-Identifier: MIT
// A scripted backend for tests of the global client: every request gets one canned
// outcome, and what it was asked is recorded.
#ifndef TQ_TEST_SCRIPT_BACKEND_H
#define TQ_TEST_SCRIPT_BACKEND_H

#include "alloc_fail.h"
#include "tqmovie.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tqtest {

// A scripted backend: answers every request with one canned outcome and records what
// it was asked. Everything it hands out comes from malloc.
struct Script {
    int32_t result = 0;
    int32_t status = 200;
    bool store_status = true;
    const char *body = "true";
    const char *desc = nullptr;
    std::vector<std::string> urls;
    std::vector<std::string> content_types;
    int frees = 0;
};

inline Script *g_script;

inline int32_t answer(char **body, int32_t *status, char **err) {
    Script &s = *g_script;
    if (s.store_status) *status = s.status;
    if (s.body) *body = strdup(s.body);
    if (s.desc) *err = strdup(s.desc);
    return s.result;
}

inline int32_t script_get(void *, const char *url, char **body, int32_t *status, char **err) {
    {
        tqtest::AllocPause pause;
        g_script->urls.emplace_back(url);
    }
    return answer(body, status, err);
}

inline int32_t script_post(void *, const char *url, const char *, const char *ctype, char **body, int32_t *status,
                    char **err) {
    {
        tqtest::AllocPause pause;
        g_script->urls.emplace_back(url);
        g_script->content_types.emplace_back(ctype ? ctype : "(null)");
    }
    return answer(body, status, err);
}

inline void script_free(void *, void *p) {
    ++g_script->frees;
    std::free(p);
}

// The global client back to its state at load, with the scripted backend ready to install.
class ScriptFrame : public ::testing::Test {
protected:
    void SetUp() override {
        tqmovie_shutdown();
        std::memset(&g_tq, 0, sizeof g_tq); // back to the state at load
        g_script = &script;
        io = tq_io{nullptr, script_get, script_post, script_free};
    }
    void TearDown() override {
        tqmovie_shutdown();
        g_script = nullptr;
    }
    void install() { tqmovie_set_io(&io); }

    Script script;
    tq_io io{};
};

} // namespace tqtest

#endif // TQ_TEST_SCRIPT_BACKEND_H

// SPDX-License-Identifier: MIT
// From files to titles: the id each form of name or .nfo text names (and what names
// none), and the id of a file in a small tree of folders and sidecars.
#include "tqmovie.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string id_in(const std::string &text) {
    char out[16];
    const int32_t n = tqmovie_id_in_text(text.data(), text.size(), out, sizeof out);
    EXPECT_EQ(n, static_cast<int32_t>(std::strlen(out)));
    return out;
}

TEST(IdInText, EveryFormAndEveryNegative) {
    const struct {
        std::string text, want;
    } cases[] = {
        // a. .nfo unique ids and id elements, before anything else in the text
        {"<movie><uniqueid type=\"imdb\" default=\"true\">tt0111161</uniqueid><id>tt0000001</id></movie>", "tt0111161"},
        {"<uniqueid default='true' type='imdb'>\n  TT0111161 \n</uniqueid>", "tt0111161"},
        {"<uniqueid type=\"tmdb\">tt0000002</uniqueid><imdbid>tt0068646</imdbid>", "tt0068646"},
        {"<IMDB_ID>tt0468569</IMDB_ID> https://www.imdb.com/title/tt0000003/", "tt0468569"},
        {"<imdb>tt0133093</imdb>", "tt0133093"},
        {"<id>tt0903747</id>", "tt0903747"},
        {"<imdbid>tt123456</imdbid><imdb>tt0111161</imdb>", "tt0111161"}, // 6 digits: skipped
        {"<uniqueid type=\"tmdb\">278</uniqueid>", ""},
        // b. bracket tags, before addresses and bare ids
        {"Film tt0000004 [imdbid-tt0111161].mkv", "tt0111161"},
        {"Film {imdb-tt0068646}.mkv", "tt0068646"},
        {"Film (imdb=tt0468569) 2008.mp4", "tt0468569"},
        {"Film [imdbid=tt0133093]", "tt0133093"},
        {"Film [imdbid tt12345678]", "tt12345678"},
        {"Film tt0000005 [imdbid-tt0111161}", "tt0000005"},     // mismatched: no tag, the bare id wins
        {"Film {tmdbid=278} [imdbid1=tt0111161]", "tt0111161"}, // other tags name nothing, the bare id does
        // c. addresses
        {"see https://m.imdb.com/title/tt0111161/?ref=x and tt0000006", "tt0111161"},
        {"imdb.com/title/tt0068646", "tt0068646"},
        {"notimdb.com/title/tt0468569x tt0000007", "tt0000007"},
        // d. bare ids and the boundary rule
        {"The.Godfather.1972.tt0068646.1080p.mkv", "tt0068646"},
        {"tt1234567890", "tt1234567890"},
        {"butt1234567 tt1234567x", ""},
        {"tt123456 tt12345678901", ""},
        {"", ""},
        // byte-order marks: UTF-8 skipped, UTF-16 read as its ASCII subset
        {"\xEF\xBB\xBF<imdb>tt0111161</imdb>", "tt0111161"},
        {std::string("\xFF\xFE<\0i\0d\0>\0t\0t\0\x30\0\x31\0\x31\0\x31\0\x31\0\x36\0\x31\0<\0", 30), "tt0111161"},
        {std::string("\xFE\xFF\0t\0t\0\x30\0\x30\0\x36\0\x38\0\x36\0\x34\0\x36", 20), "tt0068646"},
    };
    for (const auto &c : cases) EXPECT_EQ(id_in(c.text), c.want) << c.text;
    char out[16];
    EXPECT_EQ(tqmovie_id_in_text(nullptr, 1, out, sizeof out), -1);
    EXPECT_EQ(tqmovie_id_in_text("tt0111161", 9, nullptr, 16), -1);
    EXPECT_EQ(tqmovie_id_in_text("tt0111161", 9, out, 15), -1);
    EXPECT_EQ(tqmovie_id_in_text(nullptr, 0, out, sizeof out), 0);
    EXPECT_EQ(tqmovie_id_in_text("xxtt0111161", 2, out, sizeof out), 0) << "never past len";
}

class IdForFile : public ::testing::Test {
protected:
    std::string root = ::testing::TempDir() + "tqids-" + std::to_string(getpid());
    void SetUp() override { ASSERT_EQ(system(("rm -rf " + root + " && mkdir -p " + root).c_str()), 0); }
    void TearDown() override { ASSERT_EQ(system(("rm -rf " + root).c_str()), 0); }
    void put(const std::string &rel, const std::string &text = "") {
        const std::string path = root + "/" + rel;
        ASSERT_EQ(system(("mkdir -p \"$(dirname '" + path + "')\"").c_str()), 0);
        std::ofstream(path) << text;
    }
};

TEST_F(IdForFile, SidecarBeatsNameBeatsFolder) {
    put("Heat (1995) [imdbid-tt0113277]/Heat.mkv", "");
    put("Heat (1995) [imdbid-tt0113277]/Heat.nfo", "<imdb>tt0000001</imdb>");
    put("Alien tt0078748/Alien tt0000002.mp4");
    put("Alien tt0078748/Other.mkv");
    put("Show [imdbid-tt0903747]/Season 2/Episode.mkv");
    put("Show2/tvshow.nfo", "<uniqueid type=\"imdb\">tt0944947</uniqueid>");
    put("Show2/S01/Episode.mkv");
    put("Disc Film tt0076759/BDMV/index.bdmv");
    put("Folder/movie.nfo", "https://www.imdb.com/title/tt0110912/");
    put("Folder/Pulp.avi");
    put("Nothing/here.mkv");
    const struct {
        const char *rel, *want;
        int32_t source;
    } cases[] = {
        {"Heat (1995) [imdbid-tt0113277]/Heat.mkv", "tt0000001", 1},
        {"Alien tt0078748/Alien tt0000002.mp4", "tt0000002", 2},
        {"Alien tt0078748/Other.mkv", "tt0078748", 3},
        {"Show [imdbid-tt0903747]/Season 2/Episode.mkv", "tt0903747", 3},
        {"Show2/S01/Episode.mkv", "tt0944947", 1},
        {"Disc Film tt0076759/BDMV/index.bdmv", "tt0076759", 3},
        {"Folder/Pulp.avi", "tt0110912", 1},
        {"Nothing/here.mkv", "", 0},
    };
    for (const auto &c : cases) {
        char out[16];
        int32_t source = -1;
        const std::string path = root + "/" + c.rel;
        EXPECT_EQ(tqmovie_id_for_file(path.c_str(), out, sizeof out, &source),
                  static_cast<int32_t>(std::strlen(c.want)))
            << c.rel;
        EXPECT_STREQ(out, c.want) << c.rel;
        EXPECT_EQ(source, c.source) << c.rel;
    }
    // A FIFO named like a sidecar is skipped, never waited on.
    put("Fifo tt0120737/Ring.mkv");
    ASSERT_EQ(mkfifo((root + "/Fifo tt0120737/Ring.nfo").c_str(), 0600), 0);
    char out[16];
    int32_t source = 0;
    EXPECT_EQ(tqmovie_id_for_file((root + "/Fifo tt0120737/Ring.mkv").c_str(), out, sizeof out, &source), 9);
    EXPECT_EQ(source, 3);
    EXPECT_EQ(tqmovie_id_for_file(nullptr, out, sizeof out, &source), -1);
}

} // namespace

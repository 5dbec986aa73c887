// The documents a reader follows: links that lead somewhere, manual pages
// that man shows as written.
#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kRoot = KALDORIA_SOURCE_DIR;

std::vector<std::string> Lines(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The anchor a heading gets on the page, as GitHub makes it: lower case,
// letters, digits, blanks, '-' and '_' kept, blanks made '-'.
std::string Anchor(const std::string& heading) {
    std::string anchor;
    for (int32_t at = 0, length = static_cast<int32_t>(heading.size()); at < length;) {
        UChar32 c = 0;
        U8_NEXT(heading.data(), at, length, c);
        if (c < 0) continue;
        if (c == ' ') c = '-';
        else if (!u_isalnum(c) && c != '-' && c != '_') continue;
        c = u_tolower(c);
        char bytes[4];
        int32_t n = 0;
        U8_APPEND_UNSAFE(bytes, n, c);
        anchor.append(bytes, static_cast<std::size_t>(n));
    }
    return anchor;
}

// Each markdown file's lines outside fenced code.
std::vector<std::string> ProseLines(const fs::path& file) {
    std::vector<std::string> prose;
    bool fenced = false;
    for (const std::string& line : Lines(file)) {
        if (line.starts_with("```")) fenced = !fenced;
        else if (!fenced) prose.push_back(line);
    }
    return prose;
}

std::set<std::string> Anchors(const fs::path& file) {
    std::set<std::string> anchors;
    static const std::regex kHeading(R"(^#{1,6} +(.*?) *$)");
    std::smatch m;
    for (const std::string& line : ProseLines(file))
        if (std::regex_match(line, m, kHeading)) anchors.insert(Anchor(m[1]));
    return anchors;
}

std::vector<fs::path> Documents() {
    std::vector<fs::path> files{kRoot / "README.md"};
    for (const auto& entry : fs::recursive_directory_iterator(kRoot / "docs"))
        if (entry.path().extension() == ".md") files.push_back(entry.path());
    return files;
}

TEST(Documents, EveryLinkLeadsToAFileAndAHeadingThatAreThere) {
    static const std::regex kLink(R"(\]\(([^)\s]+)\))");
    int links = 0;
    for (const fs::path& file : Documents()) {
        for (const std::string& line : ProseLines(file)) {
            for (std::sregex_iterator it(line.begin(), line.end(), kLink), end; it != end; ++it) {
                const std::string target = (*it)[1];
                if (target.starts_with("http://") || target.starts_with("https://") || target.starts_with("mailto:"))
                    continue;
                ++links;
                const std::size_t hash = target.find('#');
                const std::string path = target.substr(0, hash);
                const fs::path to = path.empty() ? file : (file.parent_path() / path).lexically_normal();
                SCOPED_TRACE(fs::relative(file, kRoot).string() + ": " + target);
                if (!fs::exists(to)) {
                    ADD_FAILURE() << "no such file";
                } else if (hash != std::string::npos) {
                    EXPECT_TRUE(Anchors(to).contains(target.substr(hash + 1))) << "no such heading";
                }
            }
        }
    }
    EXPECT_GT(links, 20);  // the pages link to each other
}

// groff, as man runs it, says nothing about the pages.
TEST(ManualPages, RenderWithoutAWarning) {
    if (std::system("command -v groff >/dev/null 2>&1") != 0) GTEST_SKIP() << "groff is not installed";
    for (const char* page : {"kaldoria.1", "kaldoria-db.1", "kaldoria-manager.1"}) {
        const std::string command = "LC_ALL=C.UTF-8 groff -K utf8 -Tutf8 -man -ww -z '" +
                                    (kRoot / "docs/man" / page).string() + "' 2>&1";
        std::FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string said;
        for (char buffer[256]; std::fgets(buffer, sizeof buffer, pipe);) said += buffer;
        EXPECT_EQ(::pclose(pipe), 0) << page;
        EXPECT_EQ(said, "") << page;
    }
}

}  // namespace

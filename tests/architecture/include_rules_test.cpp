// docs/ARCHITECTURE.md's table of folders, held to the tree and the build:
// every #include in a product folder is one its row allows, every folder a
// row allows is one its targets link, and the libraries link without a
// cycle. A forbidden include, or a table the build no longer agrees with,
// fails `make test`.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// One row of the table: the folder, its targets and what it may include.
struct Row {
    std::string folder;                   // "engine/sqlite/"
    std::vector<std::string> targets;     // the target column's names
    std::set<std::string> folders;        // every header of these
    std::set<std::string> headers;        // these headers only
    std::set<std::string> unlinked;       // headers allowed without linking their folder
    std::set<std::string> external;       // <sqlite3.h>, <libpq-fe.h>
    bool qt = false, icu = false;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Split(const std::string& text, char by) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, by)) parts.push_back(part);
    return parts;
}

std::vector<std::string> Backticked(const std::string& cell) {
    std::vector<std::string> out;
    static const std::regex tick("`([^`]+)`");
    for (std::sregex_iterator it(cell.begin(), cell.end(), tick), end; it != end; ++it) out.push_back((*it)[1]);
    return out;
}

std::vector<Row> ReadTable(const std::string& page) {
    std::vector<Row> rows;
    for (const std::string& line : Split(page, '\n')) {
        if (line.rfind("| `", 0) != 0) continue;
        const auto cells = Split(line, '|');  // "", folder, target, job, may include
        if (cells.size() < 5) continue;
        const auto folder = Backticked(cells[1]);
        if (folder.size() != 1 || folder[0].back() != '/') continue;
        Row row;
        row.folder = folder[0];
        row.targets = Backticked(cells[2]);
        for (const std::string& piece : Split(cells[4], ',')) {
            row.qt = row.qt || piece.find("Qt") != std::string::npos;
            row.icu = row.icu || piece.find("ICU") != std::string::npos;
            for (const std::string& entry : Backticked(piece)) {
                if (entry.front() == '<') row.external.insert(entry.substr(1, entry.size() - 2));  // "qpdf/*": a library's folder
                else if (entry.back() == '/') row.folders.insert(entry);
                else {
                    row.headers.insert(entry);
                    if (piece.find("declarations only") != std::string::npos) row.unlinked.insert(entry);
                }
            }
        }
        rows.push_back(row);
    }
    return rows;
}

// target -> (folder, linked targets), as CMake wrote them.
struct Target {
    std::string folder;
    std::vector<std::string> links;
};
std::map<std::string, Target> ReadGraph(const std::string& text) {
    std::map<std::string, Target> graph;
    for (const std::string& line : Split(text, '\n')) {
        std::istringstream words(line);
        std::string name;
        Target t;
        if (!(words >> name >> t.folder)) continue;
        for (std::string link; words >> link;) t.links.push_back(link);
        graph[name] = t;
    }
    return graph;
}

// The row a file belongs to: the longest row folder its path starts with.
const Row* OwnerOf(const std::vector<Row>& rows, const std::string& file) {
    const Row* owner = nullptr;
    for (const Row& r : rows)
        if (file.rfind(r.folder, 0) == 0 && (!owner || r.folder.size() > owner->folder.size())) owner = &r;
    return owner;
}

// The headers kept for one folder or library alone: a row must name them.
bool Restricted(const std::string& header, bool& qt, bool& icu) {
    qt = header.front() == 'Q';
    icu = header.rfind("unicode/", 0) == 0;
    return qt || icu || header == "sqlite3.h" || header == "libpq-fe.h" || header.rfind("gtest/", 0) == 0 ||
           header.rfind("qpdf/", 0) == 0 || header.rfind("poppler", 0) == 0;
}

class Architecture : public ::testing::Test {
protected:
    const fs::path root = KALDORIA_SOURCE_DIR;
    const std::vector<Row> rows = ReadTable(ReadAll(root / "docs" / "ARCHITECTURE.md"));
    const std::map<std::string, Target> graph = ReadGraph(ReadAll(KALDORIA_TARGET_GRAPH));

    // Every source file of the product, by its path from the root.
    std::vector<std::string> ProductFiles() const {
        std::vector<std::string> files;
        for (const Row& r : rows) {
            if (!fs::is_directory(root / r.folder)) continue;
            for (const auto& e : fs::recursive_directory_iterator(root / r.folder)) {
                const std::string ext = e.path().extension().string();
                if (e.is_regular_file() && (ext == ".cpp" || ext == ".h" || ext == ".c"))
                    files.push_back(fs::relative(e.path(), root).generic_string());
            }
        }
        std::sort(files.begin(), files.end());
        files.erase(std::unique(files.begin(), files.end()), files.end());
        return files;
    }

    // Every product target a folder's targets reach through their links.
    std::set<std::string> Reached(const std::string& folder) const {
        std::set<std::string> seen;
        std::function<void(const std::string&)> visit = [&](const std::string& t) {
            if (!seen.insert(t).second) return;
            if (auto it = graph.find(t); it != graph.end())
                for (const auto& l : it->second.links) visit(l);
        };
        for (const auto& [name, t] : graph)
            if (t.folder == folder) visit(name);
        return seen;
    }
    bool Links(const std::string& from, const std::string& folder) const {
        const auto reached = Reached(from);
        return std::any_of(reached.begin(), reached.end(), [&](const std::string& t) {
            auto it = graph.find(t);
            return it != graph.end() && it->second.folder == folder;
        });
    }
};

TEST_F(Architecture, EveryIncludeIsOneTheTableAllows) {
    ASSERT_GE(rows.size(), 14u) << "the table of folders was not found in docs/ARCHITECTURE.md";
    static const std::regex include(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    std::size_t checked = 0;
    for (const std::string& file : ProductFiles()) {
        const Row* row = OwnerOf(rows, file);
        ASSERT_NE(row, nullptr) << file;
        const std::string own = file.substr(0, file.rfind('/') + 1);
        for (const std::string& line : Split(ReadAll(root / file), '\n')) {
            std::smatch m;
            if (!std::regex_search(line, m, include)) continue;
            ++checked;
            const std::string header = m[2];
            if (m[1] == "<") {
                bool qt = false, icu = false;
                if (Restricted(header, qt, icu)) {
                    const bool inFolder = header.find('/') != std::string::npos &&
                                          row->external.count(header.substr(0, header.find('/') + 1) + "*");
                    EXPECT_TRUE(row->external.count(header) || inFolder || (qt && row->qt) || (icu && row->icu))
                        << file << " includes <" << header << ">, which the row of " << row->folder << " does not allow";
                }
                continue;
            }
            if (header.find('/') == std::string::npos) continue;  // beside the file itself
            const std::string folder = header.substr(0, header.rfind('/') + 1);
            const bool allowed = folder == own || folder == row->folder || row->folders.count(folder) ||
                                 row->headers.count(header);
            EXPECT_TRUE(allowed) << file << " includes \"" << header << "\", which the row of " << row->folder
                                 << " in docs/ARCHITECTURE.md does not allow";
        }
    }
    EXPECT_GE(checked, 500u) << "too few includes were read: is the tree where the test looks?";
}

// What a row allows, its targets link: the table says what the build does.
TEST_F(Architecture, EveryFolderARowAllowsIsOneItsTargetsLink) {
    ASSERT_FALSE(graph.empty());
    for (const Row& row : rows) {
        for (const std::string& t : row.targets) {
            auto it = graph.find(t);
            ASSERT_NE(it, graph.end()) << "the row of " << row.folder << " names a target " << t << " that the build lacks";
            EXPECT_EQ(it->second.folder, row.folder) << t;
        }
        for (const std::string& folder : row.folders)
            EXPECT_TRUE(Links(row.folder, folder)) << row.folder << " may include " << folder << " but does not link it";
        for (const std::string& header : row.headers)
            if (!row.unlinked.count(header)) {
                EXPECT_TRUE(Links(row.folder, header.substr(0, header.rfind('/') + 1)))
                    << row.folder << " may include " << header << " but does not link its folder";
            }
    }
    // Every target of the product has its row.
    for (const auto& [name, t] : graph) {
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const Row& r) { return r.folder == t.folder; }))
            << "target " << name << " in " << t.folder << " has no row in the table";
    }
}

TEST_F(Architecture, NoLibraryLinksOneThatLinksItBack) {
    std::map<std::string, int> state;  // 1 on the path, 2 done
    std::vector<std::string> path;
    std::function<void(const std::string&)> visit = [&](const std::string& t) {
        if (state[t] == 2) return;
        path.push_back(t);
        if (state[t] == 1) {
            std::string cycle;
            for (const auto& p : path) cycle += p + " ";
            ADD_FAILURE() << "the libraries link in a cycle: " << cycle;
            path.pop_back();
            return;
        }
        state[t] = 1;
        if (auto it = graph.find(t); it != graph.end())
            for (const auto& l : it->second.links) visit(l);
        state[t] = 2;
        path.pop_back();
    };
    for (const auto& [name, t] : graph) visit(name);
    EXPECT_GE(graph.size(), 15u);
}

}  // namespace

// Invariants of every pack, checked by comparing the file tree before and after it:
// - the input files are byte-identical afterwards;
// - nothing outside the output path is created, changed or removed (apart from paths the test
//   names, such as the plug-in's own settings file);
// - an output file that existed before is replaced only when the overwrite question was answered
//   Yes.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

namespace gleanery::test {

struct TreeEntry {
    std::filesystem::file_type type = std::filesystem::file_type::none;
    std::string content; // regular files only

    bool operator==(const TreeEntry&) const = default;
};

using TreeSnapshot = std::map<std::filesystem::path, TreeEntry>;

// Every file, directory and special file under `root` (FIFOs are listed, never opened).
inline TreeSnapshot SnapshotTree(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    TreeSnapshot tree;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end;
         !ec && it != end; it.increment(ec)) {
        TreeEntry entry;
        entry.type = it->symlink_status().type();
        if (entry.type == fs::file_type::regular) {
            std::ifstream in(it->path(), std::ios::binary);
            entry.content.assign(std::istreambuf_iterator<char>(in), {});
        }
        tree[it->path()] = std::move(entry);
    }
    return tree;
}

// Checks the invariants between `before` and the tree under `root` now. `output` is the job's
// output path; `answeredYes` tells whether the overwrite question was answered Yes; `allowed`
// lists further paths that the pack may create or change.
inline void ExpectPackInvariants(const TreeSnapshot& before, const std::filesystem::path& root,
                                 const std::filesystem::path& output, bool answeredYes,
                                 const std::set<std::filesystem::path>& allowed = {}) {
    const TreeSnapshot after = SnapshotTree(root);
    for (const auto& [path, entry] : before) {
        if (allowed.count(path)) continue;
        const auto found = after.find(path);
        if (path == output) {
            if (!answeredYes && entry.type == std::filesystem::file_type::regular) {
                ASSERT_NE(found, after.end()) << "existing output removed without a Yes: " << path;
                EXPECT_TRUE(found->second == entry)
                    << "existing output changed without a Yes: " << path;
            }
            continue;
        }
        ASSERT_NE(found, after.end()) << "removed: " << path;
        EXPECT_TRUE(found->second == entry) << "changed: " << path;
    }
    for (const auto& [path, entry] : after)
        if (!before.count(path) && path != output && !allowed.count(path))
            ADD_FAILURE() << "created: " << path;
}

} // namespace gleanery::test

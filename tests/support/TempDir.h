// A fresh folder under $TMPDIR (or /tmp) for one test, removed with everything in it when the
// object goes away.
//
//   brenvo::test::TempDir dir;
//   dir.writeFile("Info.plist", "<plist>...</plist>");
//   auto path = dir / "Info.plist";
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

    // Writes `bytes` to the file `name` (relative to the folder), creating parent folders.
    void writeFile(std::string_view name, std::string_view bytes) const;
    // The file's bytes, or nullopt when it cannot be read.
    std::optional<std::string> readFile(std::string_view name) const;
    // Names of the folder's entries, sorted.
    std::vector<std::string> entries() const;

private:
    std::filesystem::path path_;
};

} // namespace brenvo::test

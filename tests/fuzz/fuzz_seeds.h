#pragma once
// Seed writing shared by the fuzz targets: when PELLORIN_FUZZ_WRITE_SEEDS names
// a folder, each target drops a few valid inputs made by our own writers there.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

inline const char* SeedFolder() {
    return std::getenv("PELLORIN_FUZZ_WRITE_SEEDS");
}

inline void WriteSeed(const std::string& name, const std::vector<uint8_t>& bytes) {
    const char* dir = SeedFolder();
    if (!dir || !*dir) return;
    std::ofstream out(std::string(dir) + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

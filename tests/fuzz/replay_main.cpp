// Replays fuzz inputs without libFuzzer: every file named, and every file in every folder
// named, goes once through the fuzz target. Exit code 0 when none failed a check.
//   tellamio_fuzz_replay <file or folder>...
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool Replay(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::vector<uint8_t> data;
    uint8_t buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + n);
    fclose(f);
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0, unreadable = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) == 0 && S_ISDIR(st.st_mode)) {
            DIR* dir = opendir(argv[i]);
            while (dirent* e = dir ? readdir(dir) : nullptr) {
                if (e->d_name[0] == '.') continue;
                Replay(std::string(argv[i]) + "/" + e->d_name) ? ++replayed : ++unreadable;
            }
            if (dir) closedir(dir);
        } else {
            Replay(argv[i]) ? ++replayed : ++unreadable;
        }
    }
    printf("replayed %d inputs\n", replayed);
    return replayed > 0 && unreadable == 0 ? 0 : 1;
}

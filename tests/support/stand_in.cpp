#include "support/stand_in.h"

#include <fstream>
#include <stdexcept>
#include <thread>

namespace corvexa::test {

std::filesystem::path WriteStandIn(const TempDir& dir, const std::string& relative,
                                   const std::string& body) {
    return WriteStandIn(dir.Path() / relative, body);
}

std::filesystem::path WriteStandIn(const std::filesystem::path& program, const std::string& body) {
    std::filesystem::create_directories(program.parent_path());
    const std::string script = "#!/bin/sh\n" + body + "\n";
    std::ofstream out(program, std::ios::binary | std::ios::trunc);
    out.write(script.data(), static_cast<std::streamsize>(script.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + program.string());
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    return program;
}

bool Alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

bool Gone(pid_t pid, std::chrono::milliseconds patience) {
    constexpr std::chrono::milliseconds kStep(10);
    for (auto waited = std::chrono::milliseconds(0); waited < patience && Alive(pid);
         waited += kStep)
        std::this_thread::sleep_for(kStep);
    return !Alive(pid);
}

}  // namespace corvexa::test

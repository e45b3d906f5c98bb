#include "ProbeRunner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

namespace module_test {
namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, '\t')) fields.push_back(field);
    return fields;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) > 0) text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

void Parse(ProbeResult& result) {
    std::stringstream stream(result.output);
    std::string line;
    while (std::getline(stream, line)) {
        const std::vector<std::string> f = SplitTabs(line);
        if (f.empty()) continue;
        if (f[0] == "box" && f.size() >= 2) {
            result.boxes.push_back(Unescape(f[1]));
        } else if (f[0] == "load" && f.size() >= 2) {
            result.loaded = f[1] == "ok";
            if (f.size() >= 3) result.loadError = static_cast<unsigned>(std::stoul(f[2]));
        } else if (f[0] == "root") {
            result.storeRoot = f.size() >= 2 ? f[1] : "";
        } else if (f[0] == "classes" && f.size() >= 5) {
            result.classesRestored = f[2] == "1";
            result.classesAdopted = f[4] == "1";
        } else if (f[0] == "unload" && f.size() >= 5) {
            result.leftChain = f[2] == "1";
            result.unmapped = f[4] == "1";
        }
    }
}

}  // namespace

std::string RegString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

void Scenario::WriteHive(const std::string* installPath) const {
    std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n";
    if (installPath != nullptr) text += "\"Path\"=" + RegString(*installPath) + "\r\n";
    WriteHiveText(text);
}

void Scenario::WriteHiveText(const std::string& text) const { m_dir.Write("hkcu.reg", text); }

ProbeResult Scenario::Load(const ProbeOptions& options) const {
    ProbeResult result;
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return result;
    const std::string offset = std::to_string(options.clockOffsetSeconds);
    const std::string sizeLimit = std::to_string(options.fileSizeLimit);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
        if (chdir(m_dir.path().c_str()) != 0) _exit(126);
        setenv("PORTRIX_HKCU", (m_dir / "hkcu.reg").c_str(), 1);
        setenv("TZ", options.timeZone.c_str(), 1);
        std::vector<const char*> args = {PORTRIX_MODULE_PROBE, PORTRIX_MODULE_LIBRARY,
                                         "--clock-offset", offset.c_str()};
        if (options.unload) args.push_back("--unload");
        if (options.fileSizeLimit >= 0) {
            args.push_back("--file-size-limit");
            args.push_back(sizeLimit.c_str());
        }
        args.push_back(nullptr);
        execv(PORTRIX_MODULE_PROBE, const_cast<char* const*>(args.data()));
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    // The probe's outputs are small: neither pipe fills while the other is read.
    result.output = ReadAll(out[0]);
    result.diagnostics = ReadAll(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    Parse(result);
    return result;
}

}  // namespace module_test

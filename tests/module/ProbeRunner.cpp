#include "ProbeRunner.h"

#include <sstream>

#include "run_program.h"
#ifdef _WIN32
#include "file_ages.h"
#endif

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

void Parse(ProbeResult& result) {
    std::stringstream stream(result.output);
    std::string line;
    while (std::getline(stream, line)) {
        // Built for Windows, the probe's C runtime ends its text lines in CR LF.
        if (!line.empty() && line.back() == '\r') line.pop_back();
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

long long ProbeNow(long long now, long long offset) {
#ifdef _WIN32
    (void)offset;
    return now;
#else
    return now + offset;
#endif
}

const char* ProbeTimeZone(const char* zone) {
#ifdef _WIN32
    (void)zone;
    return nullptr;
#else
    return zone;
#endif
}

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

void Scenario::WriteHiveText(const std::string& text) const {
    m_dir.Write("hkcu.reg", text);
}

ProbeResult Scenario::Load(const ProbeOptions& options) const {
    std::vector<std::string> environment = {"PORTRIX_HKCU=" + (m_dir / "hkcu.reg")};
#ifdef _WIN32
    portrix_test::AgeEverythingBelow(m_dir.path(), options.clockOffsetSeconds);
    const long long clockOffset = 0;
#else
    const long long clockOffset = options.clockOffsetSeconds;
    environment.push_back("TZ=" + options.timeZone);
#endif
    std::vector<std::string> args = {PORTRIX_MODULE_PROBE, PORTRIX_MODULE_LIBRARY, "--clock-offset",
                                     std::to_string(clockOffset)};
    if (options.unload) args.push_back("--unload");
    if (options.housekeepingWithoutDescriptors)
        args.push_back("--housekeeping-without-descriptors");
    if (options.fileSizeLimit >= 0) {
        args.push_back("--file-size-limit");
        args.push_back(std::to_string(options.fileSizeLimit));
    }
    const portrix_test::ProgramRun run =
        portrix_test::RunProgram(args, portrix_test::EnvironmentWith(environment), m_dir.path());
    ProbeResult result;
    result.ran = run.status == 0;
    result.output = run.out;
    result.diagnostics = run.err;
    Parse(result);
    if (!result.ran) {
        result.output += "[the probe ended with status " + std::to_string(run.status) +
                         "; on standard error: " + run.err + "]\n";
    }
    return result;
}

}  // namespace module_test

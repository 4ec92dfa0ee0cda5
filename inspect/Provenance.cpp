#include "inspect/Provenance.h"

#include "base/Text.h"

#include <algorithm>

namespace inspect {

namespace {

// A command or a path as the matching compares it: variables expanded, the kernel's forms of
// a service path in the user's form, one kind of slash, lower case.
std::string Normalise(const std::string& text, const Expander& expand) {
    std::string result = base::ToLowerAscii(expand ? expand(text) : text);
    std::replace(result.begin(), result.end(), '/', '\\');
    const std::string kernelPrefix = "\\??\\";
    const std::string systemRoot = "\\systemroot\\";
    if (result.compare(0, kernelPrefix.size(), kernelPrefix) == 0) {
        result.erase(0, kernelPrefix.size());
    } else if (result.compare(0, systemRoot.size(), systemRoot) == 0 && expand) {
        const std::string windows = base::ToLowerAscii(expand("%SystemRoot%"));
        if (windows != "%systemroot%")
            result.replace(0, systemRoot.size() - 1, windows);
    }
    return result;
}

bool SeparatesBefore(char c) {
    return c == '"' || c == '\'' || c == ' ' || c == '\t' || c == ',' || c == ';' || c == '=';
}

bool SeparatesAfter(char c) {
    return c == '"' || c == '\'' || c == ' ' || c == '\t' || c == ',' || c == ';';
}

std::string ProcessLine(const ProcessInfo& process) {
    return process.imageName + " (pid " + std::to_string(process.pid) + ")";
}

} // namespace

bool CommandNames(const std::string& command, const std::vector<std::string>& paths,
                  const Expander& expand) {
    const std::string text = Normalise(command, expand);
    for (const std::string& path : paths) {
        const std::string wanted = Normalise(path, nullptr);
        if (wanted.empty())
            continue;
        for (size_t at = text.find(wanted); at != std::string::npos;
             at = text.find(wanted, at + 1)) {
            const size_t end = at + wanted.size();
            if ((at == 0 || SeparatesBefore(text[at - 1])) &&
                (end == text.size() || SeparatesAfter(text[end])))
                return true;
        }
    }
    return false;
}

std::optional<ProcessInfo> ChooseOrigin(const std::vector<ProcessInfo>& holders,
                                        const std::string& modulePath) {
    const std::string folder = base::ToLowerAscii(base::DirectoryOf(modulePath));
    const auto score = [&](const ProcessInfo& process) {
        const bool inFolder = !process.imagePath.empty() &&
                              base::ToLowerAscii(base::DirectoryOf(process.imagePath)) == folder;
        return (inFolder ? 2 : 0) + (process.hasVisibleWindow ? 0 : 1);
    };
    int best = 0;
    int sharing = 0;
    const ProcessInfo* chosen = nullptr;
    for (const ProcessInfo& process : holders) {
        const int points = score(process);
        if (points > best) {
            best = points;
            sharing = 1;
            chosen = &process;
        } else if (points == best) {
            ++sharing;
        }
    }
    if (best == 0 || sharing != 1)
        return std::nullopt;
    return *chosen;
}

std::vector<AutostartEntry> EntriesNaming(const std::vector<AutostartEntry>& entries,
                                          const std::vector<std::string>& paths,
                                          const Expander& expand) {
    std::vector<AutostartEntry> naming;
    for (const AutostartEntry& entry : entries) {
        if (CommandNames(entry.command, paths, expand))
            naming.push_back(entry);
    }
    return naming;
}

std::string ReportText(const Provenance& provenance) {
    std::string text = provenance.path + "\n\nCaricato anche in:\n";
    if (provenance.holders.empty())
        text += "  (nessun altro processo)\n";
    for (const ProcessInfo& process : provenance.holders)
        text += "  " + ProcessLine(process) + "\n";
    if (provenance.origin) {
        text += "Probabile origine: " + ProcessLine(*provenance.origin) + " " +
                provenance.origin->imagePath + "\n";
    }
    text += "Avvio automatico:";
    if (provenance.autostart.empty())
        text += "\n  (nessuno)";
    for (const AutostartEntry& entry : provenance.autostart)
        text += "\n  " + entry.where + ": " + entry.name + " = " + entry.command;
    return text;
}

std::string FilelessReportText(const std::string& key, const std::vector<ProcessInfo>& reactors) {
    std::string text =
        key + "\n\nNessun file da esaminare.\nProgrammi che hanno reagito ai tasti di prova:";
    if (reactors.empty())
        text += "\n  (nessuno)";
    for (const ProcessInfo& process : reactors) {
        // The program's name where its path could not be read.
        const std::string& program =
            process.imagePath.empty() ? process.imageName : process.imagePath;
        text += "\n  " + program + " (pid " + std::to_string(process.pid) + ")";
    }
    return text;
}

} // namespace inspect

#include "command_line.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

const char* Next(const char* word) {
    while (*word) ++word;
    return word + 1;
}

bool IsOption(const char* word, const char* name) {
    return (word[0] == '/' || word[0] == '-') && EqualNoCase(word + 1, name);
}

}   // namespace

bool SplitCommandLine(const char* line, TextBuffer& words, size_t* count) {
    *count = 0;
    bool first = true;
    const char* at = line;
    for (;;) {
        while (IsBlank(*at)) ++at;
        if (!*at) break;
        bool quoted = false;
        while (*at && (quoted || !IsBlank(*at))) {
            if (*at == '"') {
                quoted = !quoted;
            } else if (!first) {
                words.AppendChar(*at);
            }
            ++at;
        }
        if (!first) {
            words.AppendChar('\0');
            ++*count;
        }
        first = false;
    }
    return words.Ok();
}

bool ParseCommandOptions(const char* words, size_t count, CommandOptions& options, const char** problem) {
    *problem = nullptr;
    const char* word = words;
    for (size_t i = 0; i < count; ++i, word = Next(word)) {
        const char** value = nullptr;
        if (IsOption(word, "?") || IsOption(word, "HELP")) {
            options.help = true;
            continue;
        }
        if (IsOption(word, "NH")) {
            options.noHeader = true;
            continue;
        }
        if (IsOption(word, "FO")) {
            if (i + 1 == count) {
                *problem = "/FO needs a format: TABLE, LIST, CSV or HTML.";
                return false;
            }
            word = Next(word);
            ++i;
            if (EqualNoCase(word, "TABLE"))
                options.format = OutputFormat::kTable;
            else if (EqualNoCase(word, "LIST"))
                options.format = OutputFormat::kList;
            else if (EqualNoCase(word, "CSV"))
                options.format = OutputFormat::kCsv;
            else if (EqualNoCase(word, "HTML"))
                options.format = OutputFormat::kHtml;
            else {
                *problem = "/FO takes TABLE, LIST, CSV or HTML.";
                return false;
            }
            options.formatGiven = true;
            continue;
        }
        if (IsOption(word, "OUT"))
            value = &options.outPath;
        else if (IsOption(word, "COMPARE"))
            value = &options.comparePath;
        else if (IsOption(word, "MERGE"))
            value = &options.mergeFolder;
        if (!value) {
            *problem = "Unknown option or argument; BRANLIST /? lists the options.";
            return false;
        }
        if (*value) {
            *problem = "An option is given twice.";
            return false;
        }
        if (i + 1 == count || !*Next(word)) {
            *problem = "/OUT, /COMPARE and /MERGE need a path.";
            return false;
        }
        word = Next(word);
        ++i;
        *value = word;
    }
    if (options.help) return true;
    bool merge = options.mergeFolder != nullptr;
    if (merge && options.comparePath) {
        *problem = "/COMPARE and /MERGE cannot go together.";
        return false;
    }
    if (options.format == OutputFormat::kHtml && !merge) {
        *problem = "/FO HTML is the fleet report of /MERGE.";
        return false;
    }
    if (merge && options.formatGiven && options.format != OutputFormat::kCsv && options.format != OutputFormat::kHtml) {
        *problem = "/MERGE writes CSV or HTML (/FO CSV or /FO HTML).";
        return false;
    }
    if (merge && options.format == OutputFormat::kHtml && !options.outPath) {
        *problem = "/FO HTML writes a file: give /OUT with its path.";
        return false;
    }
    if (options.noHeader && (options.format == OutputFormat::kList || options.format == OutputFormat::kHtml)) {
        *problem = "/NH applies to /FO TABLE and /FO CSV only.";
        return false;
    }
    return true;
}

const char* UsageText() {
    return "BRANLIST [/FO TABLE|LIST|CSV] [/NH] [/OUT PATH] [/COMPARE OLD.CSV]\r\n"
           "BRANLIST /MERGE FOLDER [/OUT PATH] [/FO CSV|HTML] [/NH]\r\n"
           "\r\n"
           "Lists the driver files in use on this computer, with their version stamps and dates,\r\n"
           "as the Brantovix.Drivers.1 component finds them.\r\n"
           "\r\n"
           "  /FO TABLE    a table (the default); /FO LIST: one block per file;\r\n"
           "  /FO CSV      comma-separated values: Computer, File name, Version stamp, Date.\r\n"
           "  /NH          no header line in a table or CSV.\r\n"
           "  /OUT PATH    writes the output to a file instead of the screen. A path that ends\r\n"
           "               in \\ (or names a folder) gets the file COMPUTERNAME.CSV there.\r\n"
           "               The file is written under another name first and then put in place.\r\n"
           "  /COMPARE OLD.CSV\r\n"
           "               prints what changed since OLD.CSV, an earlier /FO CSV output: lines\r\n"
           "               \"added\", \"removed\" and \"changed\". A folder: its COMPUTERNAME.CSV.\r\n"
           "  /MERGE FOLDER\r\n"
           "               reads every *.CSV in FOLDER and prints, for each file, the versions\r\n"
           "               found and the machines off the most common one. /OUT writes all rows\r\n"
           "               as one CSV, or with /FO HTML one HTML page of machines by files.\r\n"
           "  /?           this text.\r\n"
           "\r\n"
           "Exit status: 0 done; 1 /COMPARE found changes; 2 bad usage or a bad input file;\r\n"
           "3 the component is not registered or could not be created; 4 the output file\r\n"
           "could not be written.\r\n";
}

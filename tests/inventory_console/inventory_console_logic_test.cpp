// The console program's logic, natively under the sanitizers: the CSV writer and reader, the
// list's pairs as rows, the table and list, the comparison, the fleet report and the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "fleet_report.h"
#include "inventory_compare.h"
#include "inventory_csv.h"
#include "inventory_report.h"
#include "inventory_rows.h"

namespace {

std::string Text(const TextBuffer& buffer) {
    return std::string(buffer.data(), buffer.size());
}

struct Row {
    const char* computer;
    const char* name;
    const char* stamp;
    const char* date;
};

void Fill(RowList& rows, const std::vector<Row>& from) {
    for (const Row& row : from) ASSERT_TRUE(rows.Add(row.computer, row.name, row.stamp, row.date));
}

std::vector<std::string> Fields(const RowList& rows) {
    std::vector<std::string> fields;
    for (size_t row = 0; row < rows.Count(); ++row) {
        for (int field = 0; field < kRowFieldCount; ++field)
            fields.push_back(rows.Field(row, static_cast<RowField>(field)));
    }
    return fields;
}

const char kHeaderLine[] = "\"Computer\",\"File name\",\"Version stamp\",\"Date\"\r\n";

TEST(InventoryCsv, QuotesEveryFieldAndDoublesQuotesWithCrLfLineEnds) {
    RowList rows;
    Fill(rows, {{"OFFICE-01", "LPT.VXD", "04.10.00.1998", "1998/05/11"},
                {"OFFICE-01", "Sound \"Live\", Wave Driver.VXD", "05.00.01.2195", "2000/03/17"}});
    TextBuffer out;
    ASSERT_TRUE(AppendInventoryCsv(rows, true, out));
    EXPECT_EQ(std::string(kHeaderLine) +
                  "\"OFFICE-01\",\"LPT.VXD\",\"04.10.00.1998\",\"1998/05/11\"\r\n"
                  "\"OFFICE-01\",\"Sound \"\"Live\"\", Wave Driver.VXD\",\"05.00.01.2195\",\"2000/03/17\"\r\n",
              Text(out));

    TextBuffer noHeader;
    ASSERT_TRUE(AppendInventoryCsv(rows, false, noHeader));
    EXPECT_EQ(Text(out).substr(sizeof(kHeaderLine) - 1), Text(noHeader));

    RowList back;
    CsvProblem problem;
    ASSERT_TRUE(ReadInventoryCsv(out.data(), out.size(), back, problem)) << problem.line << " " << problem.what;
    EXPECT_EQ(Fields(rows), Fields(back));
}

TEST(InventoryCsv, ReadsLfLineEndsUnquotedFieldsAndALastLineWithoutEnd) {
    const std::string text =
        "Computer,File name,Version stamp,Date\n"
        "PC,A.VXD,1,2\n"
        "\"PC\",\"\",\"\",\"\"\r\n"
        "PC,B.VXD,3,4";
    RowList rows;
    CsvProblem problem;
    ASSERT_TRUE(ReadInventoryCsv(text.data(), text.size(), rows, problem)) << problem.what;
    EXPECT_EQ((std::vector<std::string>{"PC", "A.VXD", "1", "2", "PC", "", "", "", "PC", "B.VXD", "3", "4"}),
              Fields(rows));

    RowList headerOnly;
    ASSERT_TRUE(ReadInventoryCsv(kHeaderLine, sizeof(kHeaderLine) - 1, headerOnly, problem));
    EXPECT_EQ(0u, headerOnly.Count());
}

TEST(InventoryCsv, RefusesWhatItDidNotWriteWithTheLine) {
    const std::string row = "\"PC\",\"A.VXD\",\"1\",\"2\"\r\n";
    const char kRowWithNul[] = "\"PC\",\"A\0B\",\"1\",\"2\"\r\n";
    struct Case {
        std::string text;
        unsigned long line;
        const char* what;
    } const cases[] = {
        {"", 1, "header"},
        {"\"Computer\",\"File\",\"Version stamp\",\"Date\"\r\n" + row, 1, "header"},
        {"\"Computer\",\"File name\",\"Version stamp\"\r\n" + row, 1, "header"},
        {"File,Version,Date\r\nA.VXD,1,2\r\n", 1, "header"},   // the example scripts' CSV
        {kHeaderLine + row + "\"PC\",\"B.VXD,\"1\",\"2\"\r\n", 3, "after its closing quote"},
        {kHeaderLine + row + "\"PC\",\"B.VXD\",\"1\",\"2\r\n", 3, "not closed"},
        {kHeaderLine + row + "\"PC\",\"B.VXD\",\"1\"\r\n", 3, "fewer than four"},
        {kHeaderLine + row + "\"PC\",\"B.VXD\",\"1\",\"2\",\"3\"\r\n", 3, "more than four"},
        {kHeaderLine + row + "\"PC\",\"B.VXD\",\"1\",\"2\",\r\n", 3, "more than four"},
        {kHeaderLine + row + "\r\n", 3, "fewer than four"},
        {kHeaderLine + row + "PC,B\"X.VXD,1,2\r\n", 3, "quote without being quoted"},
        {kHeaderLine + std::string(kRowWithNul, sizeof(kRowWithNul) - 1), 2, "NUL"},
        {kHeaderLine + std::string("\"PC\",\"A.VXD\",\"1\",\"2\"\r\"PC\""), 2, "CR without LF"},
    };
    for (const Case& c : cases) {
        RowList rows;
        CsvProblem problem;
        EXPECT_FALSE(ReadInventoryCsv(c.text.data(), c.text.size(), rows, problem)) << c.text;
        EXPECT_EQ(c.line, problem.line) << c.text;
        ASSERT_NE(nullptr, problem.what);
        EXPECT_NE(std::string::npos, std::string(problem.what).find(c.what)) << problem.what << " for " << c.text;
    }
}

TEST(RowsFromDataList, FirstFilesPairFirstTheRestInReverseTwoFilesOfOneNameTwoRows) {
    // Files A, B, C and a second A, as the list holds them.
    const char* names[] = {"A", "DATE-A", "A", "DATE-C", "C", "DATE-B", "B", "DATE-A"};
    const char* values[] = {"1", "d4", "4", "d3", "3", "d2", "2", "d1"};
    RowList rows;
    const char* problem = nullptr;
    ASSERT_TRUE(RowsFromDataList("PC", names, values, 8, rows, &problem));
    EXPECT_EQ((std::vector<std::string>{"PC", "A", "1", "d1", "PC", "A", "4", "d4", "PC", "C", "3", "d3", "PC", "B",
                                        "2", "d2"}),
              Fields(rows));

    RowList empty;
    EXPECT_TRUE(RowsFromDataList("PC", names, values, 0, empty, &problem));
    EXPECT_EQ(0u, empty.Count());

    const char* notPaired[] = {"A", "DATE-A", "B", "DATE-B"};   // in order, not as the list holds them
    RowList refused;
    EXPECT_FALSE(RowsFromDataList("PC", notPaired, values, 4, refused, &problem));
    EXPECT_NE(nullptr, problem);
    EXPECT_FALSE(RowsFromDataList("PC", names, values, 3, refused, &problem));
}

TEST(InventoryReport, TableColumnsAsWideAsTheirWidestEntryAndTheList) {
    RowList rows;
    Fill(rows, {{"PC", "LPT.VXD", "04.10.00.1998", "1998/05/11"}, {"PC", "ESDI_506.PDR", "4.1", "1999/04/23"}});
    TextBuffer table;
    ASSERT_TRUE(AppendInventoryTable(rows, true, table));
    EXPECT_EQ(
        "File name     Version stamp  Date\r\n"
        "------------  -------------  ----------\r\n"
        "LPT.VXD       04.10.00.1998  1998/05/11\r\n"
        "ESDI_506.PDR  4.1            1999/04/23\r\n",
        Text(table));
    TextBuffer noHeader;
    ASSERT_TRUE(AppendInventoryTable(rows, false, noHeader));
    EXPECT_EQ(
        "LPT.VXD       04.10.00.1998  1998/05/11\r\n"
        "ESDI_506.PDR  4.1            1999/04/23\r\n",
        Text(noHeader));
    TextBuffer list;
    ASSERT_TRUE(AppendInventoryList(rows, list));
    EXPECT_EQ(
        "File name:     LPT.VXD\r\nVersion stamp: 04.10.00.1998\r\nDate:          1998/05/11\r\n\r\n"
        "File name:     ESDI_506.PDR\r\nVersion stamp: 4.1\r\nDate:          1999/04/23\r\n\r\n",
        Text(list));
}

TEST(InventoryCompare, OneLinePerAddedRemovedOrChangedFilePairedByNameAndOrder) {
    const std::vector<Row> base = {{"PC", "LPT.VXD", "04.10.00.1998", "1998/05/11"},
                                   {"PC", "ESDI_506.PDR", "04.10.00.2222", "1999/04/23"},
                                   {"PC", "SB16.VXD", "04.10.00.2222", "1999/04/23"},
                                   {"PC", "ESDI_506.PDR", "04.10.00.1998", "1998/05/11"}};
    struct Case {
        const char* what;
        std::vector<Row> now;
        const char* lines;
    } const cases[] = {
        {"nothing changed (another computer name, names in other case)",
         {{"OTHER", "lpt.vxd", "04.10.00.1998", "1998/05/11"},
          {"OTHER", "ESDI_506.PDR", "04.10.00.2222", "1999/04/23"},
          {"OTHER", "SB16.VXD", "04.10.00.2222", "1999/04/23"},
          {"OTHER", "ESDI_506.PDR", "04.10.00.1998", "1998/05/11"}},
         ""},
        {"one stamp and date changed, one added, one removed",
         {{"PC", "LPT.VXD", "04.10.00.1998", "1998/05/11"},
          {"PC", "ESDI_506.PDR", "04.10.00.2222", "1999/04/23"},
          {"PC", "SB16.VXD", "04.10.00.2301", "2001/02/03"},
          {"PC", "ES1371.VXD", "04.10.00.2222", "1999/04/23"}},
         "changed  SB16.VXD  04.10.00.2222  1999/04/23 -> 04.10.00.2301  2001/02/03\r\n"
         "added    ES1371.VXD  04.10.00.2222  1999/04/23\r\n"
         "removed  ESDI_506.PDR  04.10.00.1998  1998/05/11\r\n"},
        {"the second of two files of one name changed its date only",
         {{"PC", "LPT.VXD", "04.10.00.1998", "1998/05/11"},
          {"PC", "ESDI_506.PDR", "04.10.00.2222", "1999/04/23"},
          {"PC", "SB16.VXD", "04.10.00.2222", "1999/04/23"},
          {"PC", "ESDI_506.PDR", "04.10.00.1998", "1998/06/01"}},
         "changed  ESDI_506.PDR  04.10.00.1998  1998/05/11 -> 04.10.00.1998  1998/06/01\r\n"},
        {"everything removed", {}, nullptr},
    };
    RowList earlier;
    Fill(earlier, base);
    for (const Case& c : cases) {
        RowList now;
        Fill(now, c.now);
        TextBuffer out;
        size_t changes = 99;
        ASSERT_TRUE(CompareInventories(earlier, now, out, &changes)) << c.what;
        if (c.lines) {
            EXPECT_EQ(c.lines, Text(out)) << c.what;
            size_t lines = 0;
            for (char ch : Text(out)) lines += ch == '\n';
            EXPECT_EQ(lines, changes) << c.what;
        } else {
            EXPECT_EQ(4u, changes) << c.what;
            EXPECT_EQ(0u, Text(out).find("removed  LPT.VXD  04.10.00.1998  1998/05/11\r\n")) << Text(out);
        }
    }
}

TEST(FleetReport, NamesTheMachinesOffTheMostCommonVersionAndMarksThemInTheHtmlPage) {
    RowList rows;
    // OFFICE-02 runs an updated SB16.VXD; OFFICE-03 lacks LPT.VXD and has ES1371.VXD.
    Fill(rows, {{"OFFICE-02", "LPT.VXD", "04.10.00.1998", "1998/05/11"},
                {"OFFICE-02", "SB16.VXD", "04.10.00.2301", "2001/02/03"},
                {"office-01", "LPT.VXD", "04.10.00.1998", "1998/05/11"},
                {"office-01", "SB16.VXD", "04.10.00.2222", "1999/04/23"},
                {"OFFICE-03", "SB16.VXD", "04.10.00.2222", "1999/04/23"},
                {"OFFICE-03", "ES1371.VXD", "04.10.00.2222", "1999/04/23"},
                {"OFFICE-03", "SB16.VXD", "<&\">", "1999/04/23"}});
    FleetReport report;
    ASSERT_TRUE(report.Build(rows));
    EXPECT_EQ(3u, report.MachineCount());
    EXPECT_EQ(4u, report.FileCount());
    TextBuffer summary;
    ASSERT_TRUE(report.AppendSummary(summary));
    EXPECT_EQ(
        "3 machines: office-01, OFFICE-02, OFFICE-03\r\n"
        "4 files\r\n"
        "\r\n"
        "File name    Versions (machines)                   Off the most common version\r\n"
        "-----------  ------------------------------------  ---------------------------\r\n"
        "ES1371.VXD   (none) (2), 04.10.00.2222 (1)         OFFICE-03\r\n"
        "LPT.VXD      04.10.00.1998 (2), (none) (1)         OFFICE-03\r\n"
        "SB16.VXD     04.10.00.2222 (2), 04.10.00.2301 (1)  OFFICE-02\r\n"
        "SB16.VXD #2  (none) (2), <&\"> (1)                  OFFICE-03\r\n"
        "\r\n"
        "Machines off the most common version:\r\n"
        "  OFFICE-02: SB16.VXD 04.10.00.2301\r\n"
        "  OFFICE-03: ES1371.VXD 04.10.00.2222, LPT.VXD (none), SB16.VXD #2 <&\">\r\n",
        Text(summary));

    TextBuffer page;
    ASSERT_TRUE(report.AppendHtmlPage(page));
    std::string html = Text(page);
    EXPECT_EQ(0u, html.find("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">\r\n"));
    EXPECT_EQ(std::string::npos, html.find("<SCRIPT"));
    EXPECT_EQ(std::string::npos, html.find("<&"));
    EXPECT_NE(std::string::npos,
              html.find("<TR><TD>SB16.VXD</TD><TD>04.10.00.2222</TD><TD>04.10.00.2222</TD>"
                        "<TD BGCOLOR=\"#FFCC33\"><B>[04.10.00.2301]</B></TD><TD>04.10.00.2222</TD></TR>"))
        << html;
    EXPECT_NE(std::string::npos, html.find("<B>[&lt;&amp;&quot;&gt;]</B>")) << html;
    EXPECT_NE(std::string::npos, html.find("</TABLE>\r\n</BODY>\r\n</HTML>\r\n"));

    TextBuffer same;
    RowList alike;
    Fill(alike, {{"A", "X.VXD", "1", "d"}, {"B", "X.VXD", "1", "d"}});
    FleetReport alikeReport;
    ASSERT_TRUE(alikeReport.Build(alike));
    ASSERT_TRUE(alikeReport.AppendSummary(same));
    EXPECT_NE(std::string::npos,
              Text(same).find("\r\nEvery machine carries the most common version of every file.\r\n"));

    RowList none;
    FleetReport empty;
    ASSERT_TRUE(empty.Build(none));
    TextBuffer emptyPage;
    EXPECT_TRUE(empty.AppendHtmlPage(emptyPage));
}

std::vector<std::string> Split(const char* line) {
    TextBuffer words;
    size_t count = 0;
    EXPECT_TRUE(SplitCommandLine(line, words, &count));
    std::vector<std::string> out;
    const char* word = words.data();
    for (size_t i = 0; i < count; ++i, word += strlen(word) + 1) out.push_back(word);
    return out;
}

TEST(CommandLine, SplitsAsBatchFilesGiveItAndKeepsBackslashes) {
    EXPECT_EQ((std::vector<std::string>{"/OUT", "\\\\SERVER\\INVENTORY\\", "/fo", "csv"}),
              Split("BRANLIST.EXE /OUT \\\\SERVER\\INVENTORY\\ /fo  csv"));
    EXPECT_EQ((std::vector<std::string>{"/OUT", "C:\\My Files\\", "/NH"}),
              Split("\"C:\\Program Files\\BRANLIST.EXE\"\t/OUT \"C:\\My Files\\\" /NH  "));
    EXPECT_EQ(std::vector<std::string>{}, Split("BRANLIST"));
    EXPECT_EQ(std::vector<std::string>{}, Split(""));
}

TEST(CommandLine, OptionsAndBadUsage) {
    struct Case {
        std::vector<const char*> words;
        bool ok;
        OutputFormat format;
    } const cases[] = {
        {{}, true, OutputFormat::kTable},
        {{"/fo", "list"}, true, OutputFormat::kList},
        {{"-FO", "CSV", "/NH", "/OUT", "X.CSV"}, true, OutputFormat::kCsv},
        {{"/MERGE", "F", "/FO", "HTML", "/OUT", "F.HTM"}, true, OutputFormat::kHtml},
        {{"/COMPARE", "OLD.CSV", "/OUT", "NEW.CSV"}, true, OutputFormat::kTable},
        {{"/FO"}, false, OutputFormat::kTable},
        {{"/FO", "XML"}, false, OutputFormat::kTable},
        {{"/OUT"}, false, OutputFormat::kTable},
        {{"/OUT", "A", "/OUT", "B"}, false, OutputFormat::kTable},
        {{"/X"}, false, OutputFormat::kTable},
        {{"OLD.CSV"}, false, OutputFormat::kTable},
        {{"/FO", "LIST", "/NH"}, false, OutputFormat::kTable},
        {{"/FO", "HTML"}, false, OutputFormat::kTable},
        {{"/MERGE", "F", "/FO", "HTML"}, false, OutputFormat::kTable},
        {{"/MERGE", "F", "/FO", "TABLE"}, false, OutputFormat::kTable},
        {{"/MERGE", "F", "/COMPARE", "OLD.CSV"}, false, OutputFormat::kTable},
    };
    for (const Case& c : cases) {
        std::string words;
        for (const char* word : c.words) words += std::string(word) + '\0';
        CommandOptions options;
        const char* problem = nullptr;
        bool ok = ParseCommandOptions(words.data(), c.words.size(), options, &problem);
        EXPECT_EQ(c.ok, ok) << (c.words.empty() ? "" : c.words[0]) << " " << (problem ? problem : "");
        if (ok) {
            EXPECT_EQ(c.format, options.format);
        } else {
            EXPECT_NE(nullptr, problem);
        }
    }
    CommandOptions help;
    const char* problem = nullptr;
    ASSERT_TRUE(ParseCommandOptions("/?\0/FO\0HTML\0", 3, help, &problem));
    EXPECT_TRUE(help.help);
}

}   // namespace

// Random command lines typed into a session, random programs run and random input files read
// into vectors: every line either runs or fails with an error text, and nothing crashes, hangs,
// leaves a program running, leaves a temporary vector behind or breaks the vector table.
//
// Every command word takes part. None of them blocks or leaves here: the fixture's desktop
// answers at once as the batch desktop does (QUIT only asks it to close the window, SHELL and
// EDIT are no-ops, RUN and GETDATA without a file get a cancelled dialog, confirmations take
// scripted answers), and Escape ends a program that runs too long.
//
// KORW_FUZZ_CASES=n in the environment runs n cases instead of the usual count, and
// KORW_FUZZ_SEED=n other random sequences.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <random>

#include "data/files.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "interp/command_table.h"
#include "interp/params.h"
#include "interp_fixture.h"

namespace korw::interp::test {
namespace {

using Clock = std::chrono::steady_clock;

// KORW_FUZZ_SEED=n in the environment changes every random sequence by n.
uint32_t SeedOf(uint32_t usual) {
    const char* text = std::getenv("KORW_FUZZ_SEED");
    return usual + static_cast<uint32_t>(text == nullptr ? 0 : std::strtoul(text, nullptr, 10));
}

int CaseCount(int usual) {
    const char* text = std::getenv("KORW_FUZZ_CASES");
    int n = text == nullptr ? 0 : std::atoi(text);
    return n > 0 ? n : usual;
}

// Names, numbers, operators and file names that the commands give a meaning to, and texts
// that none of them expects.
const std::vector<std::string>& Vocabulary() {
    // clang-format off
    static const std::vector<std::string> words = {
        // vectors that exist (see Seed), in any case, and ones that do not
        "A", "b", "Y", "y", "F", "g", "W", "NOPE", "zz9", "$D", "%RESULT", "ABCDEFGHIJ", "A1", "_",
        "A B", "a,b", "f,g", "F=1,2", "g=lo,hi,top", "a=0,1,2", "a=#", "y(2)", "y(2)=3", "a(0)",
        "a(13)", "f(1)=9", "a=b+1", "Y=A*F", "a*f", "a.f", "f*g", "f.g", "f*g*a", "a/b", "(a+1)",
        "#(a)", "MEAN(a)", "LN(", "EXP(a)", "SQRT(-1)", "[1 2 3]", "[a *]", "[", "]", "[,]", "[;]",
        // numbers
        "0", "1", "2", "3", "12", "13", "-1", "-0", "+4", "1.5", "0.5", "-2.5", "1E5", "1E39",
        "-1E39", "3.3E38", "1e-45", "2147483647", "2147483648", "-2147483649", "2E9", "1E10",
        "99999999999999999999", "NaN", "nan", "Inf", "-inf", "0x10", "1,5", "3.", ".5", "1:3",
        "3:1", "0:5", "1:99999", "2:", ":2", "1:", "1e", "--1", "1/0", "0/0", "2^1024",
        // operators and separators
        "=", "(", ")", ",", "*", "/", "-", "+", "%", ":", "^", "<", ">", "<=", "<>", "#", "##",
        "\\", "|", "{", "}", "\"", "'", "&", "!", "?", "@", "~", ";", ".", "=>", "==",
        // words some commands give a meaning to
        "L", "ALL", "Lines", "F2", "AF3", "CA", "CX", "A5", "F13", "SF12", "0.05", "1 2", "ON",
        "OFF",
        // files of the working directory, and devices
        "data", "data.txt", "DATA.TXT", "prog", "PROG", "NUL", "nul", "CON", "KORW.PS", "out.OUT",
        "pic.PNG", "x.JPG", "p.BMP", "set", "set.KDS", "SET", "missing.dat", "sub\\file", "c:",
        "C:\\x",
        // texts no command expects
        "", " ", "  ", "\t", "\r", "\x1b", std::string("a\0b", 3), std::string(1, '\0'),
        "\xc3\xa6", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xff\xfe", "\x91", "\x80", "\xc3",
        std::string(9, 'Q'), std::string(300, 'A'), std::string(5000, 'x'),
        std::string(70000, '9'), std::string(260, '('), std::string(260, ')'),
    };
    // clang-format on
    return words;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Builds one typed line: a command word (a table name, a prefix of one, in another case, or no
// command at all) and random parameters.
class LineMaker {
  public:
    explicit LineMaker(uint32_t seed) : random_(seed) {}

    std::string CommandWord() {
        const auto& table = CommandTable();
        int kind = Below(100);
        if (kind < 6) return Word();                  // anything at all
        if (kind < 9) return "";                      // parameters only
        if (kind < 12) return Word() + "=" + Word();  // the COMPUTE shortcut
        if (kind < 14) return "+" + Word();           // the bare expression
        std::string name(table[static_cast<size_t>(Below(static_cast<int>(table.size())))]);
        if (Below(4) == 0) name = name.substr(0, 1 + Below(static_cast<int>(name.size())));
        if (Below(3) == 0) name = Lower(name);
        if (Below(8) == 0) name[static_cast<size_t>(Below(static_cast<int>(name.size())))] ^= 0x20;
        if (Below(20) == 0) name += Word();  // runs past the name
        return name;
    }

    // A third of the lines take their parameters from the plain words only (names, small
    // numbers, files), and a third are names joined as model formulas, tables and plots join
    // them, so that more lines get past the first checks of their command.
    std::string Parameters() {
        int mode = Below(3);
        if (mode == 0) return Formed();
        bool plain = mode == 1;
        std::string text;
        for (int n = Below(plain ? 5 : 9); n > 0; --n) {
            int glue = Below(20);
            text += plain || glue < 15 ? " " : glue < 17 ? "" : glue < 19 ? "   " : ",";
            text += plain ? PlainWord() : Word();
        }
        return text;
    }

    // A command in the shape its analysis wants, with random vectors and numbers: @v stands
    // for a variate, @f for a factor, @n for a small number, @x for any word.
    std::string Formula() {
        // clang-format off
        static const char* const shapes[] = {
            "FITLINEARNORMAL @v = @v + @f", "FITLINEARNORMAL @v = @f*@f", "FITLINEARNORMAL @v = @v",
            "FITLINEARNORMAL @v = @f.@f + @v", "FITLOGITLINEAR @f = @v + @f",
            "FITLOGLINEAR @v = @f + @f", "FITLOGLINEAR @v = @f*@f", "FITANOVA @v = @f + @f",
            "FITNEGBIN @v = @f", "FITCOXMODEL @v @f = @v", "FITMCLOGIT @f = @v",
            "FITNONLINEAR @v = @v", "LISTPARAMETERS", "ESTIMATE @n", "ESTIMATE @n @n",
            "TESTMODELCHANGE", "SAVEFITTED @v", "SAVEFITTED @x", "SAVEPARAMETERS @x",
            "SAVENORMEDRESIDUALS @v", "CONSTRUCTMINIMUM @v", "ONEWAYTABLE @v @f",
            "ONEWAYTABLE 1 @f", "TWOWAYTABLE @v @f @f", "TWOWAYTABLE @x @f @f",
            "THREEWAYTABLE @v @f @f @f", "TABULATE @f @f", "TABULATE @v @f @f", "GROUP @v @f",
            "GROUP @f @v @x", "SUMMARY @v @f", "CORMAT @v @v @v", "BARTLETT @v @f",
            "WILCOXON @v @f", "WILCOXON @v @v", "SPEARMAN @v @v", "HISTOGRAM @v",
            "HISTOGRAM @v=@n,@n,@n @f", "PLOT @v @v", "PLOT @v=@n,@n,@n @v @f=@n,@n L",
            "PLOT @v @v @v", "PLOT @v @v # #", "SORT @v @f +", "SORT @v",
            "TRANSFER @v @n @n @v @n @n", "TRANSFER @v @v", "GENERATELEVELS @f @n",
            "EXCLUDELEVEL @f @n @n", "FOCUSONLEVEL @f @n", "EXCLUDEMISSING @v @f", "RENAME @v @x",
            "LIST1 @v:@n:@n", "LIST @v @f", "OPENPSFILE out", "PSFRAME # @n", "PSFRAME @n @n",
            "CLOSEPSFILE", "EXCLUDE @v>@n", "INCLUDE @f=@n", "COMPUTE @v = @v*@n",
            "COMPUTE @v(@n) = @x", "COMPUTE @f = @v", "COMPUTE @v + @n:@n", "SAVEDATA set @v @f",
            "GETDATA set", "GETDATA set @x", "DELETE @v", "VARIATE @x @n", "FACTOR @x @n @n",
            "EXPORT out.csv @v @f", "EXPORT out.tsv @f=a,b MISSINGAS=NA", "EXPORT set.dta @v",
            "EXPORT set.sav", "IMPORT out.csv REPLACE", "IMPORT set.dta", "IMPORT set.sav REPLACE",
            "IMPORT data.txt HEADER=NO REPLACE", "IMPORT out.tsv COLUMNS=@x",
        };
        // clang-format on
        static const char* const variates[] = {"A", "B", "Y", "W", "a", "%RESULT", "NOPE"};
        static const char* const factors[] = {"F", "G", "g", "A", "NOPE"};
        static const char* const numbers[] = {"0",  "1",   "2",   "3",   "5",    "12",        "13",
                                              "-1", "0.5", "255", "256", "1E39", "2147483647"};
        std::string shape = shapes[Below(static_cast<int>(std::size(shapes)))];
        std::string text;
        for (size_t i = 0; i < shape.size(); ++i) {
            if (shape[i] != '@' || i + 1 == shape.size()) {
                text += shape[i];
                continue;
            }
            char kind = shape[++i];
            if (kind == 'v')
                text += variates[Below(static_cast<int>(std::size(variates)))];
            else if (kind == 'f')
                text += factors[Below(static_cast<int>(std::size(factors)))];
            else if (kind == 'n')
                text += numbers[Below(static_cast<int>(std::size(numbers)))];
            else
                text += Word();
        }
        if (Below(5) == 0) text += " " + Word();
        return text;
    }

    std::string Line() {
        if (Below(3) == 0) return Formula();
        std::string line = CommandWord();
        if (Below(30) == 0) line = " " + line;  // a leading blank means COMPUTE when typed
        return line + Parameters();
    }

    bool Chance(int percent) { return Below(100) < percent; }

  private:
    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    std::string Word() {
        return Vocabulary()[static_cast<size_t>(Below(static_cast<int>(Vocabulary().size())))];
    }

    std::string Formed() {
        static const char* const names[] = {"A", "B", "Y", "W", "F", "G", "y", "f", "1", "2", "#"};
        static const char* const joins[] = {" ", " ", " ", " ", "=", "+",   "*",
                                            ".", ",", ":", "-", "|", " = ", " + "};
        std::string text = " ";
        for (int n = 1 + Below(6); n > 0; --n) {
            text += names[Below(static_cast<int>(std::size(names)))];
            if (n > 1) text += joins[Below(static_cast<int>(std::size(joins)))];
        }
        return text;
    }

    std::string PlainWord() {
        static const char* const plain[] = {
            "A",    "b",   "Y",   "F",   "g",   "W",    "a=b+1", "f=1,2", "1",
            "2",    "3",   "0",   "12",  "#",   "+",    "=",     "1:3",   "data.txt",
            "prog", "set", "a*f", "f.g", "f*g", "0.05", "-1",    "*",     "L",
        };
        return plain[Below(static_cast<int>(std::size(plain)))];
    }

    std::mt19937 random_;
};

// The line as ExecuteCommand would get it from RunTypedCommand (replicating the shortcuts), and
// whether its parameters could name a file outside the working directory. Lines that could are
// not run: OUTFILE, SAVEDATA and OPENPSFILE create the file they name.
bool StaysInWorkingDirectory(const std::string& typed, bool expand) {
    if (typed.find("..") != std::string::npos) return false;
    std::string text = typed;
    if (expand) {
        if (!text.empty() && text[0] == ' ') text = "COMPUTE " + text;
        text = ExpandCommandLine(text);
    }
    std::string params = SplitFirst(NormaliseBlanks(text)).tail;
    size_t first = params.find_first_not_of(" ,=");
    return first == std::string::npos || params[first] != '/';
}

// The command that a typed line runs: the assignment and expression shortcuts make COMPUTE.
std::string CommandOf(const std::string& typed, bool expand) {
    std::string text = typed;
    if (expand) {
        if (!text.empty() && text[0] == ' ') text = "COMPUTE " + text;
        text = ExpandCommandLine(text);
    } else {
        size_t eq = text.substr(0, text.find(' ')).find('=');
        if ((eq != std::string::npos && eq + 1 < text.size()) ||
            (text.size() > 1 && text[0] == '+'))
            return "COMPUTE";
    }
    std::string word = SplitFirst(NormaliseBlanks(text)).head;
    for (char& c : word)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return MatchCommand(word);
}

// The fixture's desktop, with Escape pressed once a program has run `patience` lines: a program
// that loops for ever through GOTO ends like one that the user interrupts.
class EscapingDesktop : public FakeDesktop {
  public:
    int patience = 300;
    int asked = 0;
    bool EscapeRequested() override { return ++asked > patience; }
};

class Fuzz : public InterpTest {
  protected:
    // Lengths such as 2147483647 are valid: the machine is said to have 256 MiB to give, so
    // that they are refused rather than allocated.
    void SetUp() override {
        InterpTest::SetUp();
        TheDesktop = &screen_;
        data::SetMemoryProbe([] { return 256LL << 20; });
    }

    void TearDown() override {
        data::SetMemoryProbe(nullptr);
        InterpTest::TearDown();
    }

    // The vectors the lines work on: variates a, b, y (12 units) and w (5 units), factors f
    // (3 levels) and g (2 levels) of 12 units. Vectors that a line deleted come back.
    void Seed() {
        data::ErrorFree = true;
        for (const char* name : {"A", "B", "Y"})
            if (data::FindVector(name) == 0) data::DeclareVariate(name, 12);
        if (data::FindVector("W") == 0) data::DeclareVariate("W", 5);
        if (data::FindVector("F") == 0) data::DeclareFactor("F", 12, 3);
        if (data::FindVector("G") == 0) data::DeclareFactor("G", 12, 2);
        data::ErrorFree = true;
        for (int32_t u = 1; u <= 12; ++u) {
            if (data::LengthOf("A") >= u && data::NumberOfLevels("A") == 0)
                data::AssignValue("A", u, static_cast<float>(u % 5) - 1.5f);
            if (data::LengthOf("B") >= u && data::NumberOfLevels("B") == 0)
                data::AssignValue("B", u, static_cast<float>(u * u) / 7.0f);
            if (data::LengthOf("F") >= u && data::NumberOfLevels("F") == 3)
                data::AssignLevel("F", u, 1 + u % 3);
            if (data::LengthOf("G") >= u && data::NumberOfLevels("G") == 2)
                data::AssignLevel("G", u, 1 + u / 7);
        }
        data::ErrorFree = true;
        data::IncludeAll();
        EchoOn = true;
        SessionClosing = false;
        CurrentOutputFile = SessionOutputFile;
        TemporaryOutput = RootTemporaryOutput();
    }

    // Removes the files that lines created (OUTFILE and SAVEDATA make one of almost any name):
    // every case-insensitive file look-up reads the directory, and long runs would slow down.
    // The session output starts again empty.
    void ClearWorkingDirectory(const std::vector<std::string>& keep) {
        std::ofstream(SessionOutputFile, std::ios::trunc);
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(WorkingDirectory, ec)) {
            std::string name = entry.path().filename().string();
            if (std::find(keep.begin(), keep.end(), name) == keep.end())
                std::filesystem::remove_all(entry.path(), ec);
        }
    }

    // The shape of the table: lengths, arrays, levels and the restriction list agree.
    void ExpectSoundTable(const std::string& line) {
        int32_t longest = 0;
        for (int i = 1; i <= data::TableSize; ++i) {
            const data::Vector& v = data::Entry(i);
            if (v.kind == data::FreeEntry) continue;
            ASSERT_GE(v.length, 1) << line;
            longest = std::max(longest, v.length);
            if (v.kind == data::VariateKind) {
                ASSERT_EQ(v.variate.size(), static_cast<size_t>(v.length) + 1) << v.name << line;
                continue;
            }
            ASSERT_EQ(v.factor.size(), static_cast<size_t>(v.length) + 1) << v.name << line;
            ASSERT_GE(v.levels, 1) << v.name << line;
            for (int32_t u = 1; u <= v.length; ++u)
                ASSERT_LE(v.factor[static_cast<size_t>(u)], v.levels) << v.name << line;
        }
        ASSERT_EQ(data::MaxLength(), longest) << line;
        ASSERT_EQ(data::RestrictList().size(), static_cast<size_t>(longest) + 1) << line;
    }

    // Runs the line as typed and checks what it left (fatal failures name the line).
    void RunChecked(const std::string& line, bool expand) {
        screen_.errorBoxes.clear();
        screen_.reviewed.clear();
        screen_.log.clear();
        screen_.commandTexts.clear();
        screen_.questions.clear();
        screen_.asked = 0;
        screen_.confirmAnswers = {(line.size() & 1) != 0, (line.size() & 2) != 0};
        long long before = data::FileSize(SessionOutputFile);
        bool echo = EchoOn;
        bool hadResult = data::FindVector("%RESULT") != 0;
        Clock::time_point start = Clock::now();
        bool ok = RunTypedCommand(line, expand);
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        slowest_ = std::max(slowest_, seconds);
        ASSERT_LT(seconds, 5.0) << "slow: " << line;
        lastOutput_ = TextSince(SessionOutputFile, before);
        ASSERT_FALSE(ProgramRunning) << line;
        ASSERT_EQ(data::FindVector("SYS1"), 0) << line;
        // COMPUTE lists a bare expression through %RESULT and deletes it again. (%RESULT is an
        // ordinary name too: lines may declare it, or load it with GETDATA.)
        if (!hadResult && CommandOf(line, expand) == "COMPUTE" &&
            Lower(line).find("%result") == std::string::npos) {
            ASSERT_EQ(data::FindVector("%RESULT"), 0) << line;
        }
        ASSERT_TRUE(CommandError.empty()) << line;
        ASSERT_EQ(screen_.log.size(), 1u) << line;
        if (!ok) {
            ++failed_;
            ASSERT_FALSE(screen_.errorBoxes.empty()) << line;
            const std::string& box = screen_.errorBoxes.back();
            ASSERT_FALSE(box.empty()) << line;
            ASSERT_EQ(screen_.log.back().substr(0, 4), "*** ") << line;
            // The error line follows the echo in the session output.
            if (echo && EchoOn && !SessionClosing && !screen_.closed) {
                ASSERT_NE(lastOutput_.find(" *** ERROR - " + box + " ***"), std::string::npos)
                    << line << "\n"
                    << lastOutput_;
            }
        }
        lastError_ = ok ? "" : screen_.errorBoxes.back();
        ASSERT_NO_FATAL_FAILURE(ExpectSoundTable(line));
        screen_.closed = false;
        SessionClosing = false;
    }

    // The bytes of the file from the offset on (all of them when the file got shorter).
    static std::string TextSince(const std::string& file, long long offset) {
        std::ifstream in(file, std::ios::binary);
        in.seekg(0, std::ios::end);
        long long size = in.tellg();
        in.seekg(offset >= 0 && offset <= size ? offset : 0);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    void WriteBytes(const std::string& name, const std::string& bytes) {
        std::ofstream(WorkingDirectory + "/" + name, std::ios::binary) << bytes;
    }

    EscapingDesktop screen_;
    int failed_ = 0;
    double slowest_ = 0;
    std::string lastOutput_;  // what the last line added to the session output
    std::string lastError_;   // the error box of the last line, empty when it ran
};

TEST_F(Fuzz, RandomTypedLinesRunOrFailWithAMessage) {
    WriteFile("data.txt", "1 2 3\n4,5;6\n* . 7\nlo hi top\n");
    WriteFile("prog.kor",
              "% a program the lines can run\nVARIATE $p 3\n$p = #\nLIST $p\nGOTO done $1\n"
              "SUMMARY a\ndone\nSUBSTITUTE $1=a\nLIST1 $1\n");
    WriteFile("pic.PNG", "not a picture");
    Seed();
    LineMaker maker(SeedOf(20261208));
    const int cases = CaseCount(4000);
    int run = 0;
    for (int i = 0; i < cases; ++i) {
        if (i % 50 == 0) Seed();
        if (i % 1000 == 999) ClearWorkingDirectory({"data.txt", "prog.kor", "pic.PNG"});
        std::string line = maker.Line();
        bool expand = maker.Chance(50);
        if (!StaysInWorkingDirectory(line, expand)) continue;
        ++run;
        ASSERT_NO_FATAL_FAILURE(RunChecked(line, expand));
    }
    // The vocabulary reaches the commands: many lines fail, and many run.
    EXPECT_GT(failed_, run / 10);
    EXPECT_LT(failed_, run);
    std::cout << run << " lines, " << failed_ << " failed, slowest " << slowest_ << " s\n";
}

// Found by the lines above: fitted values saved at units the fit left out overflowed to
// infinity, the next fit took them for counts and diverged, and listing its parameters
// formatted an undefined number. The saved values are missing there now, which the next fit
// refuses; the parameters of the first fit still list.
TEST_F(Fuzz, FittedValuesOfLeftOutUnitsDoNotBreakTheNextFit) {
    Seed();
    for (const char* line : {"EXCLUDE B>0.5", "FITLOGLINEAR Y = F*A", "SAVEFITTED y"}) {
        ASSERT_NO_FATAL_FAILURE(RunChecked(line, true));
        EXPECT_EQ(lastError_, "") << line;
    }
    for (int32_t u = 1; u <= 12; ++u) ASSERT_TRUE(std::isfinite(data::Value("Y", u))) << u;
    Seed();
    ASSERT_NO_FATAL_FAILURE(RunChecked("FITLOGLINEAR Y = F*G", true));
    EXPECT_EQ(lastError_, "Variate Y has a missing value at unit 4");
    ASSERT_NO_FATAL_FAILURE(RunChecked("LISTPARAMETERS", true));
    EXPECT_EQ(lastError_, "");
}

// Builds input files from the texts a data file holds and the ones it should not.
std::string RandomInputFile(std::mt19937& random) {
    // clang-format off
    static const std::vector<std::string> pieces = {
        "1", "-2.5", "3.3E38", "-3.3E38", "3.4E38", "1E39", "1e-50", "0", "+7",
        "99999999999999999999999999999999999999999", "0x1F", "1.2.3", "nan", "inf", "1e", ".5",
        "5.", ".", "*", "-", "+", "lo", "hi", "top", "LO", "2", "3", "255", "256", "-1", " ", ",",
        ";", "\t", "\n", "\r\n", "\r", "\n\n", std::string(1, '\0'), "\x1a", "|", ":", "\\", "/",
        "\xc3\xa6", "\xff", "\x80", "\"1\"", "1,5", "1 000", "e5", "E", std::string(300, '1'),
        std::string(1000, ','),
    };
    // clang-format on
    // Long runs take items across the reader's buffer of 64 KiB.
    static const std::vector<std::string> runs = {std::string(70000, '7'), std::string(66000, ' '),
                                                  std::string(65535, '\n'),
                                                  std::string(65530, 'x')};
    std::uniform_int_distribution<size_t> piece(0, pieces.size() - 1);
    std::string bytes;
    int count = std::uniform_int_distribution<int>(0, 60)(random);
    for (int k = 0; k < count; ++k) {
        if (random() % 150 == 0)
            bytes += runs[random() % runs.size()];
        else if (random() % 10 == 0)
            bytes += static_cast<char>(random() % 256);  // any byte at all
        else
            bytes += pieces[piece(random)];
        if (random() % 3 != 0) bytes += random() % 4 == 0 ? "\n" : " ";
    }
    return bytes;
}

// READ items: variates and factors of 12 units (with and without level texts), skips, and
// names that are missing or of another length.
std::string RandomReadLine(std::mt19937& random) {
    // clang-format off
    static const std::vector<std::string> items = {
        "a", "b", "f", "g", "f=lo,hi,top", "g=0,1,2", "f=,lo", "g=lo,,hi", "f=lo", "g=1,2,3,4", "*",
        "\\", "/", "w", "nope", "=x", "a=", "[", "[]", "[:]", "[|]", "[\\]", "[ab]", "[1]", "[-.]",
        "[\"]", "[lo]", "f=", "a b", "$d", "F=LO,HI,TOP",
    };
    // clang-format on
    std::uniform_int_distribution<size_t> item(0, items.size() - 1);
    std::string line = "READ";
    for (int n = std::uniform_int_distribution<int>(0, 6)(random); n > 0; --n)
        line += " " + items[item(random)];
    return line;
}

TEST_F(Fuzz, RandomInputFilesReadIntoVectors) {
    Seed();
    std::mt19937 random(SeedOf(987654));
    const int cases = CaseCount(1500);
    for (int i = 0; i < cases; ++i) {
        if (i % 20 == 0) Seed();
        std::string bytes = RandomInputFile(random);
        WriteBytes("in.dat", bytes);
        ASSERT_NO_FATAL_FAILURE(RunChecked("OPENINFILE in.dat", false));
        for (int k = std::uniform_int_distribution<int>(1, 5)(random); k > 0; --k) {
            std::string line;
            switch (random() % 6) {
                case 0:
                    line = "SKIPITEM " + std::to_string(random() % 4);
                    break;
                case 1:
                    line = random() % 2 == 0 ? "SKIPLINE" : "SKIPLINE 2000000000";
                    break;
                default:
                    line = RandomReadLine(random);
            }
            ASSERT_NO_FATAL_FAILURE(RunChecked(line, false));
            // What READ stores is a number of single precision or the missing value.
            for (const char* name : {"A", "B"}) {
                const float* x = data::VariatePointer(name);
                ASSERT_NE(x, nullptr) << line;
                for (int32_t u = 1; u <= data::LengthOf(name); ++u)
                    ASSERT_TRUE(std::isfinite(x[u])) << name << u << " " << line;
            }
        }
    }
    std::cout << cases << " files, " << failed_ << " failed commands\n";
}

// Well-formed files read back exactly: numbers written in many ways, between separators of
// every kind, with long runs that put items across the reader's buffer boundary, and factor
// levels by name. The values must be the ones written, in order.
TEST_F(Fuzz, WellFormedFilesReadBackExactly) {
    Seed();
    std::mt19937 random(SeedOf(31337));
    static const char* const separators[] = {" ", ",", ";", "\t", "\n", "\r\n", "  ,  ", "\x01"};
    static const char* const levels[] = {"lo", "hi", "top"};
    const int cases = CaseCount(400);
    for (int i = 0; i < cases; ++i) {
        if (i % 20 == 0) Seed();
        std::vector<float> a(13), b(13);
        std::vector<int> f(13);
        std::string bytes;
        auto separate = [&] {
            int kind = static_cast<int>(random() % 40);
            size_t gap = 65536 - bytes.size() % 65536;
            if (kind == 0 && gap > 4)  // up to the next buffer boundary but for a few bytes
                bytes.append(gap - 1 - random() % 4, ' ');
            else
                bytes += separators[kind % std::size(separators)];
        };
        if (random() % 3 == 0) bytes.append(random() % 3, '\n');
        for (int u = 1; u <= 12; ++u) {
            for (float* x : {&a[u], &b[u]}) {
                double value = std::ldexp(static_cast<double>(random() % 2000001) - 1000000.0,
                                          static_cast<int>(random() % 80) - 40);
                char text[64];
                static const char* const formats[] = {"%g", "%.9e", "%+.3f", "%.12g", "%E"};
                std::snprintf(text, sizeof text, formats[random() % std::size(formats)], value);
                *x = static_cast<float>(std::strtod(text, nullptr));
                bytes += text;
                separate();
            }
            f[u] = 1 + static_cast<int>(random() % 3);
            bytes += levels[f[u] - 1];
            separate();
        }
        WriteBytes("good.dat", bytes);
        ASSERT_NO_FATAL_FAILURE(RunChecked("OPENINFILE good.dat", false));
        ASSERT_NO_FATAL_FAILURE(RunChecked("READ a b f=0,lo,hi,top", false));
        for (int u = 1; u <= 12; ++u) {
            ASSERT_EQ(data::Value("A", u), a[u]) << u << " in case " << i;
            ASSERT_EQ(data::Value("B", u), b[u]) << u << " in case " << i;
            ASSERT_EQ(data::Level("F", u), f[u]) << u << " in case " << i;
        }
    }
}

// A word that substitution may put into a program line without naming a file elsewhere.
bool SafeInProgram(const std::string& text) {
    return text.find('/') == std::string::npos && text.find("..") == std::string::npos;
}

// Program files of random lines and of the lines only programs have: comments, continuations,
// labels and jumps, substitutions, a deferred SHOW, commands programs refuse or ignore.
std::string RandomProgram(LineMaker& maker, std::mt19937& random) {
    // clang-format off
    static const char* const programLines[] = {
        "% a comment", "{ a comment } LIST a", "LIST a \\", "  b", "GOTO top 1", "GOTO end 1",
        "GOTO top $1", "GOTO nowhere 1", "top", "end", "SUBSTITUTE $1=a $2=3", "SUBSTITUTE $1",
        "SUBSTITUTE $1=", "SUBSTITUTE $2=b,$1=f", "SHOW", "SHOW data.txt", "RUN prog", "ECHO 0",
        "ECHO 1", "OUTFILE NUL", "OUTFILE", "$1 = $2", "=a+1", "+x=1", "VARIATE $v 4", "$v = #",
        "{ unclosed", "\\", "", "   ", "QUIT", "EDIT", "SHELL x", "DELETE", "LIST $1 $2 $3",
        "OPENCOMMANDFILE prog",
    };
    // clang-format on
    std::string text;
    for (int n = 1 + static_cast<int>(random() % 25); n > 0; --n) {
        std::string line;
        if (random() % 5 < 2) {
            line = programLines[random() % std::size(programLines)];
        } else {
            do line = maker.Line();
            while (!SafeInProgram(line));
        }
        text += line + (random() % 4 == 0 ? "\r\n" : "\n");
    }
    if (random() % 4 == 0) text.pop_back();  // no line end after the last line
    return text;
}

TEST_F(Fuzz, RandomProgramsRunToTheirEndOrStopWithAMessage) {
    WriteFile("data.txt", "1 2 3\n");
    WriteFile("prog.kor", "LIST a\n");
    Seed();
    LineMaker maker(SeedOf(5550123));
    std::mt19937 random(SeedOf(424242));
    std::vector<std::string> values;
    for (const std::string& word : Vocabulary())
        if (SafeInProgram(word) && word.find(' ') == std::string::npos && !word.empty() &&
            word.find('\0') == std::string::npos)
            values.push_back(word);
    const int cases = CaseCount(800);
    int interrupted = 0;
    for (int i = 0; i < cases; ++i) {
        if (i % 10 == 0) Seed();
        if (i % 200 == 199) ClearWorkingDirectory({"data.txt", "prog.kor"});
        std::string program = RandomProgram(maker, random);
        WriteBytes("p.kor", program);
        std::string line = "RUN p";
        for (int n = static_cast<int>(random() % 5); n > 0; --n)
            line += " " + values[random() % values.size()];
        std::vector<std::string> dollars;
        for (int k = 1; k <= data::TableSize; ++k)
            if (data::Entry(k).kind != data::FreeEntry && data::Entry(k).name[0] == '$')
                dollars.push_back(data::Entry(k).name);
        ASSERT_NO_FATAL_FAILURE(RunChecked(line, false));
        // The program's own $ vectors are gone, whatever way it ended.
        for (int k = 1; k <= data::TableSize; ++k) {
            const data::Vector& v = data::Entry(k);
            if (v.kind == data::FreeEntry || v.name[0] != '$') continue;
            ASSERT_NE(std::find(dollars.begin(), dollars.end(), v.name), dollars.end())
                << v.name << " " << line << "\n"
                << program;
        }
        if (lastOutput_.find(" *** PROGRAM INTERRUPTED ***") != std::string::npos) {
            ++interrupted;
            ASSERT_FALSE(screen_.errorBoxes.empty()) << line;
        }
    }
    EXPECT_GT(interrupted, 0);
    std::cout << cases << " programs, " << interrupted << " interrupted\n";
}

}  // namespace
}  // namespace korw::interp::test

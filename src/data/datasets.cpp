#include "data/datasets.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include "data/errors.h"
#include "data/files.h"
#include "data/format.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"

namespace korw::data {

namespace {

constexpr char kHeaderText[] = " Korbelin Data Set - do not edit ";
constexpr uint8_t kHeaderLength = 33;
constexpr uint8_t kEndOfText = 26;
constexpr uint8_t kLongRecord = 128;   // added to the kind when the count takes 4 bytes
constexpr int32_t kLongCount = 16380;  // counts from here on are written in 4 bytes
constexpr size_t kMaxRecordName = 8;
static_assert(sizeof(kHeaderText) - 1 == kHeaderLength);

std::vector<std::string> Words(const std::string& list, const char* separators = " ") {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < list.size()) {
        i = list.find_first_not_of(separators, i);
        if (i == std::string::npos) break;
        size_t j = list.find_first_of(separators, i);
        if (j == std::string::npos) j = list.size();
        words.push_back(list.substr(i, j - i));
        i = j;
    }
    return words;
}

std::string Join(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
}

std::string Trimmed(const std::string& text) {
    size_t b = text.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return text.substr(b, text.find_last_not_of(' ') - b + 1);
}

// ---- writing ------------------------------------------------------------------------------

struct Writer {
    std::FILE* file = nullptr;
    bool ok = true;
    void Bytes(const void* data, size_t n) {
        if (ok && n > 0 && std::fwrite(data, 1, n, file) != n) ok = false;
    }
    void Byte(uint8_t b) { Bytes(&b, 1); }
    void Little(uint32_t value, int bytes) {
        uint8_t b[4];
        for (int i = 0; i < bytes; ++i) b[i] = static_cast<uint8_t>(value >> (8 * i));
        Bytes(b, static_cast<size_t>(bytes));
    }
};

int32_t PresentUnits(const Vector& v) {
    int32_t m = 0;
    for (int32_t u = 1; u <= v.length; ++u) m += UnitIncluded(u) ? 1 : 0;
    return m;
}

// The present units' data in unit order, in the file's byte form.
template <typename T>
void WriteUnits(Writer& out, const std::vector<T>& data, int32_t length, int32_t m) {
    if (m == length) {
        out.Bytes(data.data() + 1, sizeof(T) * static_cast<size_t>(m));
        return;
    }
    constexpr size_t kChunk = 1 << 16;
    std::vector<T> chunk;
    chunk.reserve(kChunk);
    for (int32_t u = 1; u <= length; ++u) {
        if (!UnitIncluded(u)) continue;
        chunk.push_back(data[u]);
        if (chunk.size() == kChunk) {
            out.Bytes(chunk.data(), sizeof(T) * chunk.size());
            chunk.clear();
        }
    }
    out.Bytes(chunk.data(), sizeof(T) * chunk.size());
}

void WriteRecord(Writer& out, const Vector& v, int32_t m) {
    bool isFactor = v.kind == FactorKind;
    bool isLong = m >= kLongCount;
    out.Byte(static_cast<uint8_t>((isFactor ? 1 : 2) + (isLong ? kLongRecord : 0)));
    out.Byte(static_cast<uint8_t>(v.name.size()));
    out.Bytes(v.name.data(), v.name.size());
    out.Little(static_cast<uint32_t>(m), isLong ? 4 : 2);
    if (isFactor) {
        out.Byte(v.levels);
        WriteUnits(out, v.factor, v.length, m);
    } else {
        WriteUnits(out, v.variate, v.length, m);
    }
}

// ---- reading ------------------------------------------------------------------------------

// A data set file read with every field checked against the bytes that remain, so that a
// truncated or corrupted file can never cause a read past its end or a huge allocation.
// Large records are read in chunks, with a poll and the fraction of the file done after each.
constexpr size_t kChunkBytes = size_t{1} << 22;

struct Reader {
    std::FILE* file = nullptr;
    long long remaining = 0;
    long long size = 0;
    bool Bytes(void* data, size_t n) {
        if (static_cast<long long>(n) > remaining) return false;
        auto* at = static_cast<unsigned char*>(data);
        while (n > 0) {
            size_t chunk = std::min(n, kChunkBytes);
            if (std::fread(at, 1, chunk, file) != chunk) return false;
            remaining -= static_cast<long long>(chunk);
            at += chunk;
            n -= chunk;
            if (n > 0 || chunk == kChunkBytes) {
                ReportFraction(1.0 - static_cast<double>(remaining) / static_cast<double>(size));
                Poll();
            }
        }
        return true;
    }
    bool Byte(uint8_t& b) { return Bytes(&b, 1); }
    bool Skip(long long n) {
        if (n > remaining) return false;
        if (n > 0 && fseeko(file, static_cast<off_t>(n), SEEK_CUR) != 0) return false;
        remaining -= n;
        return true;
    }
};

struct Record {
    bool isFactor = false;
    std::string name;
    int32_t count = 0;
    uint8_t levels = 0;
    long long DataBytes() const { return isFactor ? count : 4LL * count; }
};

enum class Read { Ok, End, Corrupt };

// The record head up to its data; End at a clean end of the file.
Read ReadRecordHead(Reader& in, Record& r) {
    if (in.remaining == 0) return Read::End;
    uint8_t kind = 0, nameLength = 0;
    if (!in.Byte(kind)) return Read::Corrupt;
    uint8_t base = kind & static_cast<uint8_t>(~kLongRecord);
    if (base != 1 && base != 2) return Read::Corrupt;
    r.isFactor = base == 1;
    if (!in.Byte(nameLength) || nameLength < 1 || nameLength > kMaxRecordName) return Read::Corrupt;
    r.name.assign(nameLength, ' ');
    if (!in.Bytes(r.name.data(), nameLength)) return Read::Corrupt;
    uint8_t b[4] = {0, 0, 0, 0};
    bool isLong = (kind & kLongRecord) != 0;
    if (!in.Bytes(b, isLong ? 4 : 2)) return Read::Corrupt;
    uint32_t raw = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
    r.count = static_cast<int32_t>(raw);
    if (r.count < 0) return Read::Corrupt;
    if (r.isFactor && !in.Byte(r.levels)) return Read::Corrupt;
    if (r.DataBytes() > in.remaining) return Read::Corrupt;
    return Read::Ok;
}

// Opens and checks the header; nullptr after reporting the error.
std::FILE* OpenDataSet(const std::string& name, Reader& in) {
    std::FILE* f = OpenFile(name, "rb");
    if (f == nullptr) {
        ReportError(name + " not found");
        return nullptr;
    }
    in.file = f;
    in.remaining = -1;
    if (fseeko(f, 0, SEEK_END) == 0) {
        in.remaining = ftello(f);
        in.size = in.remaining;
        if (fseeko(f, 0, SEEK_SET) != 0) in.remaining = -1;
    }
    uint8_t header[kHeaderLength + 2];
    bool good = in.remaining > 0 && in.Bytes(header, sizeof header) && header[0] == kHeaderLength &&
                std::memcmp(header + 1, kHeaderText, kHeaderLength) == 0 &&
                header[kHeaderLength + 1] == kEndOfText && in.remaining > 0;
    if (!good) {
        std::fclose(f);
        ReportError(name + " is not a Korbelin data set");
        return nullptr;
    }
    return f;
}

// Whether every unit holds a finite number. A data set written by another program (or damaged)
// can hold NaN or infinities, which no command of ours produces or can handle.
// The test looks at the exponent bits (all ones for NaN and the infinities) without a branch,
// so that it runs in vector lanes and costs little beside reading the file.
bool AllFinite(const std::vector<float>& values) {
    constexpr uint32_t kExponent = 0x7F800000u;
    uint32_t bad = 0;
    for (size_t u = 1; u < values.size(); ++u) {
        uint32_t bits;
        std::memcpy(&bits, &values[u], sizeof bits);
        bad |= static_cast<uint32_t>((bits & kExponent) == kExponent);
    }
    return bad == 0;
}

enum class Load { Ok, Failed, NotNumbers };

// Declares the record's vector and reads its data; after an error the vector is not kept.
Load LoadRecord(Reader& in, const Record& r, const std::string& file) {
    if (FindVector(r.name) != 0) {
        ReportError("Duplicate identifier " + r.name);
        return Load::Failed;
    }
    if (FreeIndex() == 0) {
        ReportError("Too many vectors");
        return Load::Failed;
    }
    if (r.count < 1 || (r.isFactor && r.levels < 1)) {
        ReportError(file + " is not a Korbelin data set");
        return Load::Failed;
    }
    if (r.isFactor)
        DeclareFactor(r.name, r.count, r.levels);
    else
        DeclareVariate(r.name, r.count);
    if (!ErrorFree) return Load::Failed;
    int index = FindVector(r.name);
    Vector& v = Entry(index);
    bool ok = r.isFactor ? in.Bytes(v.factor.data() + 1, static_cast<size_t>(r.count))
                         : in.Bytes(v.variate.data() + 1, 4 * static_cast<size_t>(r.count));
    if (ok && r.isFactor)
        for (int32_t u = 1; u <= r.count && ok; ++u) ok = v.factor[u] <= r.levels;
    if (ok && !r.isFactor && !AllFinite(v.variate)) {
        Delete(r.name);
        ReportError("Variate " + r.name + " in " + file + " holds values that are not numbers");
        return Load::NotNumbers;
    }
    if (!ok) {
        // A vector whose data cannot be read whole is not kept half-filled.
        Delete(r.name);
        ReportError(file + " is not a Korbelin data set");
        return Load::Failed;
    }
    return Load::Ok;
}

// Loads the wanted records (all when none is named). A data set holding values that are not
// numbers is refused whole: the vectors it loaded so far are deleted again.
void LoadRecords(Reader& in, const std::string& file, std::vector<std::string>& wanted) {
    std::vector<std::string> loaded;
    bool all = wanted.empty();
    for (;;) {
        Record r;
        Read state = ReadRecordHead(in, r);
        if (state == Read::End) break;
        if (state == Read::Corrupt) return ReportError(file + " is not a Korbelin data set");
        if (!CheckIdentifier(r.name)) return;
        bool load = all;
        for (auto it = wanted.begin(); !all && it != wanted.end(); ++it)
            if (*it == r.name) {
                wanted.erase(it);
                load = true;
                break;
            }
        if (!load) {
            if (!in.Skip(r.DataBytes())) return ReportError(file + " is not a Korbelin data set");
            continue;
        }
        Load loadState = LoadRecord(in, r, file);
        if (loadState == Load::NotNumbers) {
            std::string message = ErrorMessage;
            for (const std::string& n : loaded) Delete(n);
            ReportError(message);
            return;
        }
        if (loadState != Load::Ok) return;
        loaded.push_back(r.name);
    }
    if (!wanted.empty()) ReportError("Not found in data set: " + Join(wanted));
}

}  // namespace

std::string DataSetFileName(const std::string& file) {
    std::string name = Trimmed(file);
    bool hasExtension = name.size() >= 4 && name.compare(name.size() - 4, 4, ".KDS") == 0;
    name = UpperFileName(name);
    return hasExtension ? name : name + ".KDS";
}

void SaveData(const std::string& file, const std::string& names) {
    if (!Enter("SaveData")) return;
    std::vector<std::string> list = Words(names);
    std::vector<std::string> missing;
    std::vector<bool> listed(TableSize + 1, list.empty());
    for (const std::string& n : list) {
        std::string name = UpperName(Trimmed(n));
        int index = FindVector(name);
        if (index == 0)
            missing.push_back(name);
        else
            listed[index] = true;
    }
    if (!missing.empty())
        return ReportError("No data set created - vectors " + Join(missing) + " do not exist");

    std::vector<int32_t> counts(TableSize + 1, 0);
    bool any = false, excluded = false;
    for (int i = 1; i <= TableSize; ++i) {
        const Vector& v = Entry(i);
        if (v.kind == FreeEntry || !listed[i]) continue;
        counts[i] = PresentUnits(v);
        any = any || counts[i] > 0;
        excluded = excluded || (counts[i] > 0 && counts[i] < v.length);
    }
    if (!any) return ReportError("No data to save - file not created");

    std::string name = file + ".KDS";
    std::string target = ResolveCreate(name);
    ReplacementFile replacement(target);
    Writer out;
    out.file = replacement.file();
    if (out.file == nullptr) return ReportError("Can not open " + name);
    out.Byte(kHeaderLength);
    out.Bytes(kHeaderText, kHeaderLength);
    out.Byte(kEndOfText);
    for (int i = 1; i <= TableSize; ++i)
        if (counts[i] > 0) WriteRecord(out, Entry(i), counts[i]);
    if (!replacement.Commit(out.ok)) return ReportError("Error writing to " + name);
    if (excluded) WriteLine(" *** WARNING: Only units present are saved ***");
}

void GetData(const std::string& file, const std::string& names) {
    if (!Enter("GetData")) return;
    std::string name = DataSetFileName(file);
    Reader in;
    std::FILE* f = OpenDataSet(name, in);
    if (f == nullptr) return;
    std::vector<std::string> wanted;
    for (std::string n : Words(names)) {
        if (!CheckIdentifier(n)) break;
        if (FindVector(n) != 0) {
            ReportError("Duplicate identifier " + n);
            break;
        }
        wanted.push_back(n);
    }
    try {
        if (ErrorFree) LoadRecords(in, name, wanted);
    } catch (const std::bad_alloc&) {
        ReportError("Not enough memory to load " + name);
    } catch (const Interrupted&) {
        // The interpreter deletes the vectors loaded so far.
        std::fclose(f);
        throw;
    }
    std::fclose(f);
}

void Contents(const std::string& file) {
    if (!Enter("Contents")) return;
    std::string name = UpperFileName(Trimmed(file)) + ".KDS";
    Reader in;
    std::FILE* f = OpenDataSet(name, in);
    if (f == nullptr) return;
    WriteLine();
    std::string title = "Vectors in Korbelin data set ";
    if (static_cast<int>(title.size() + name.size()) > LineWidth()) {
        WriteLine(title);
        WriteLine(name);
    } else {
        WriteLine(title + name);
    }
    WriteLine();
    WriteLine("TYPE         NAME  LENGTH    BYTES  LEVELS");
    long long total = 0;
    for (;;) {
        Record r;
        Read state = ReadRecordHead(in, r);
        if (state == Read::End) break;
        if (state == Read::Corrupt || !in.Skip(r.DataBytes())) {
            ReportError(name + " is not a Korbelin data set");
            break;
        }
        std::string upper = UpperName(r.name);
        std::string line = (r.isFactor ? "Factor   " : "Variate  ") + Right(r.name, 8) +
                           (FindVector(upper) != 0 ? "*" : " ") + Int(r.count, 7) +
                           Int(r.DataBytes(), 9);
        if (r.isFactor) line += Int(r.levels, 7);
        WriteLine(line);
        total += r.DataBytes();
    }
    std::fclose(f);
    if (!ErrorFree) return;
    WriteLine(Right("---------------", 34));
    WriteLine(Right(std::to_string(total), 34));
}

}  // namespace korw::data

#pragma once
// A small line-oriented settings file: a banner, then named sections of
// "key=value" lines. Each item binds a key to a field in memory and knows how to
// write and read it. Files are written with CR LF line ends (the form the files
// have always had) and read with either.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct IntRect;

enum class IniKind : int {
    Integer = 0,
    Float = 1,
    Rectangle = 2,
    String = 3,
    IntegerArray = 9,
    StringArray = 11,
    Text = 12,
};

// What the bound field really is; the integer and float kinds also serve 8-bit,
// 16-bit and double fields.
enum class FieldType {
    Int32,
    UInt8,
    Int16,
    UInt16,
    Float,
    Double,
    Rect,
    String,
    IntArray,
    StringArray,
};

// The most entries an array item reads from one line: a damaged or hostile count
// must not make us allocate gigabytes of zeros.
constexpr int32_t kMaxIniArrayEntries = 65536;

class CIniItem {
public:
    CIniItem(std::string key, void* field, int kindCode, FieldType type)
        : key_(std::move(key)), field_(field), kind_(kindCode), type_(type) {}
    virtual ~CIniItem() = default;

    // Reads the item's value from the text after the equals sign.
    virtual void Read(std::string_view value);
    // Appends "key=value\n".
    virtual void Write(std::string& out) const;

    const std::string& Key() const { return key_; }
    int Kind() const { return kind_; }
    // Whether the last file parsed gave this item a value: callers that must
    // tell a value the file holds from one it merely left in place ask here.
    bool Loaded() const { return loaded_; }

private:
    friend class CFileStorage;

    std::string key_;
    void* field_;
    int kind_;
    FieldType type_;
    bool loaded_ = false;
};

class CIniPartition {
public:
    explicit CIniPartition(std::string name) : name_(std::move(name)) {}

    const std::string& Name() const { return name_; }
    const std::vector<std::unique_ptr<CIniItem>>& Items() const { return items_; }

    // Binds a key to a field. The kind code decides the text form; any code
    // outside the seven known ones writes "ERR: UNKNOWN TYPE" and is never read.
    void AddItem(std::string key, int32_t* field, IniKind kind = IniKind::Integer);
    void AddItem(std::string key, uint8_t* field);  // 8-bit, integer kind
    void AddItem(std::string key, int16_t* field);  // 16-bit, integer kind
    void AddItem(std::string key, uint16_t* field); // 16-bit, integer kind
    void AddItem(std::string key, float* field);
    void AddItem(std::string key, double* field); // float kind, full precision kept
    void AddItem(std::string key, IntRect* field);
    void AddItem(std::string key, std::string* field, IniKind kind = IniKind::String);
    void AddItem(std::string key, std::vector<int32_t>* field);
    void AddItem(std::string key, std::vector<std::string>* field);
    // Any kind code with an explicit field type (for the unknown-kind case).
    void AddRawItem(std::string key, void* field, int kindCode, FieldType type);

    CIniItem* Find(std::string_view key) const;

private:
    std::string name_;
    std::vector<std::unique_ptr<CIniItem>> items_;
};

class CFileStorage {
public:
    explicit CFileStorage(std::string banner = {}) : banner_(std::move(banner)) {}

    CIniPartition& AddPartition(std::string name);
    CIniPartition* FindPartition(std::string_view name) const;

    // Writes the whole file as SaveFileSafely does; on failure message says why.
    bool Save(const std::string& path, std::string* message = nullptr) const;
    // Applies every section found in the file; false when the file cannot be
    // read or has no complete line (then nothing changes).
    bool Load(const std::string& path);

    std::string Serialize() const; // with "\n" line ends
    std::string FileBytes() const; // exactly what Save writes: CR LF line ends
    bool Parse(std::string_view bytes);

private:
    std::string banner_;
    std::vector<std::unique_ptr<CIniPartition>> partitions_;
};

// Leading-number parsing used for every numeric value: leading blanks skipped,
// optional sign, stops at the first character that does not fit, 0 when there
// is no number. Independent of the C locale.
int64_t ParseLeadingInteger(std::string_view s);
double ParseLeadingDouble(std::string_view s);
// "%f" formatting (six decimals), independent of the C locale.
std::string FormatFixed6(double v);

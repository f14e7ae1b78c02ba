#pragma once
#include "DbfFile.h"
#include "FileUndo.h"
#include "KeyExpr.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace dbf {

// What a tag is made of, for creating an index.
struct TagSpec {
    std::string name;
    std::string expr;
    std::string filter; // FOR condition, empty for none
    bool descending = false;
    bool unique = false;
};

// A dBASE IV production index (.MDX): a header, a tag table and per tag a B-tree of
// 512-byte pages grouped in blocks. Pages are read when needed, never all at once.
// Every change runs between begin() and end(), with the table's append lock held: begin()
// marks the file as being changed, so a writer killed in between leaves a mark that the
// next writer finds and repairs by rebuilding. A step that is refused (a full disk, a failed
// write or sync) is rolled back: the file is put back byte for byte, mark included.
class MdxFile {
public:
    // Record bytes (deletion flag first) of the 0-based record rec.
    using RecordAt = std::function<const char*(uint32_t rec)>;

    struct Tag {
        std::string name, expr, filter;
        uint32_t headerPage = 0;
        uint32_t root = 0;
        uint32_t sizePages = 0;
        char keyType = 'C';
        uint16_t keyLen = 0;
        uint16_t maxKeys = 0;
        uint16_t itemLen = 0;
        bool descending = false;
        bool unique = false;
        std::shared_ptr<KeyExpr> key;     // null when the expression cannot be evaluated
        std::shared_ptr<KeyExpr> forExpr; // null when there is no filter
        std::string problem;              // why the tag cannot be evaluated
        // Nodes read in one operation, bounded so that a damaged tree (a node reached twice)
        // fails instead of going round.
        mutable uint64_t visits = 0;
        mutable uint64_t visitLimit = 0;
    };

    // Throws DbfError for a file that is not a production index.
    static std::unique_ptr<MdxFile> open(const std::string& path, const std::vector<FieldDef>& fields,
                                         bool writable);
    // Writes a new index file with the given tags, keyed from count records. Throws when an
    // expression cannot be evaluated.
    static void create(const std::string& path, const std::string& tableName,
                       const std::vector<FieldDef>& fields, const std::vector<TagSpec>& tags, uint32_t count,
                       const RecordAt& record);
    // The bytes of such a file.
    static std::string image(const std::string& path, const std::string& tableName,
                             const std::vector<FieldDef>& fields, const std::vector<TagSpec>& tags,
                             uint32_t count, const RecordAt& record);
    // Writes image over an existing index file in place (other programs keep it open), with the
    // table's append lock held; a refused write leaves the old file as it was.
    static void overwrite(const std::string& path, std::string image, bool durable);
    // How the tags differ from the given ones (missing, another expression, FOR, order or
    // uniqueness), one line each; empty when every one is there as given.
    std::vector<std::string> differences(const std::vector<TagSpec>& want) const;

    ~MdxFile();
    MdxFile(const MdxFile&) = delete;
    MdxFile& operator=(const MdxFile&) = delete;

    const std::string& path() const { return path_; }
    bool writable() const { return writable_; }
    const std::vector<Tag>& tags() const { return tags_; }
    const Tag* tag(const std::string& name) const;
    // Names the first tag that cannot be evaluated, its file and expression; empty when all can.
    std::string problem() const;

    // True when a writer was stopped between begin() and end(). Reads the file.
    bool interrupted();

    void begin(uint32_t count, const RecordAt& record, bool durable);
    void add(uint32_t rec, const char* record);
    void update(uint32_t rec, const char* oldRecord, const char* newRecord);
    // Whether writing newRecord over oldRecord changes any tag.
    bool changesKeys(const char* oldRecord, const char* newRecord) const;
    // Writes the changed pages (the mark stays set): before the table's count, so a writer
    // killed after it leaves the mark.
    void flush(bool durable);
    void end(bool durable);
    // A refused step: puts back every byte the step wrote. Should the disk refuse that too,
    // the mark stays and the next begin() rebuilds.
    void rollback(bool durable);
    // A step whose record is stored but whose end failed: forget cached pages; the mark
    // stays, so the next begin() rebuilds.
    void abandon();

    // Rewrites every tag from the records (the file keeps its tags).
    void rebuild(uint32_t count, const RecordAt& record, bool durable);
    // 0-based record numbers in the tag's order.
    std::vector<uint32_t> order(const std::string& tag);
    // Every fault of every tag and of the free-page list; empty when all are sound. Faults of
    // a tag start "tag NAME: ".
    std::vector<std::string> check(uint32_t count, const RecordAt& record);

    // The key a tag gives a record, as stored; false when the filter leaves it out.
    bool keyFor(const Tag& t, const char* record, std::string& key) const;
    int compare(const Tag& t, const std::string& a, uint32_t ra, const std::string& b, uint32_t rb) const;

private:
    MdxFile() = default;
    void loadHeader();
    void rebuildInPlace(uint32_t count, const RecordAt& record, bool durable);
    unsigned char* block(uint32_t page);
    unsigned char* writableBlock(uint32_t page);
    uint32_t allocate();
    bool isFree(uint32_t page);
    void release(uint32_t page);
    void writeTagHeader(Tag& t);
    void startWalk(const Tag& t) const;
    void insertKey(Tag& t, const std::string& key, uint32_t rec1);
    void removeKey(Tag& t, const std::string& key, uint32_t rec1);
    bool lastEntry(const Tag& t, uint32_t page, std::string& key, uint32_t& rec);
    bool findPath(const Tag& t, uint32_t page, const std::string& key, uint32_t rec1,
                  std::vector<std::pair<uint32_t, uint32_t>>& path);
    void fixBound(Tag& t, const std::vector<std::pair<uint32_t, uint32_t>>& path, size_t level,
                  const std::string& largest);
    void removeChild(Tag& t, std::vector<std::pair<uint32_t, uint32_t>>& path, size_t level);
    void collect(const Tag& t, uint32_t page, std::vector<std::pair<std::string, uint32_t>>& out, int depth,
                 std::vector<std::string>* faults);

    std::string path_;
    int fd_ = -1;
    bool writable_ = false;
    std::vector<FieldDef> fields_;
    std::vector<unsigned char> header_; // the first 2048 bytes: header and tag table
    uint32_t blockBytes_ = 1024;
    uint32_t pagesPerBlock_ = 2;
    std::vector<Tag> tags_;
    std::map<uint32_t, std::vector<unsigned char>> cache_;
    std::map<uint32_t, bool> changed_;
    bool headerChanged_ = false;
    FileUndo undo_; // from begin() to end(), or through a rebuild outside a step
    // Between begin() and end(): how to reach the records, should the tree turn out broken.
    RecordAt record_;
    uint32_t count_ = 0;
    bool outOfStep_ = false;
    std::set<uint32_t>* walked_ = nullptr; // pages a check's walk reached
    void checkFreeList(const std::set<uint32_t>& used, std::vector<std::string>& faults);
};

// Whether two tags key the same: the same expression and FOR condition, case and blanks aside.
bool sameKey(const TagSpec& a, const TagSpec& b);

// Numeric keys: the 12-byte BCD form.
std::string bcdKey(double v);
double bcdValue(const unsigned char* k);
// Date keys: the Julian day as a little-endian double; a blank date has its own value.
std::string dateKey(const KeyExpr::Value& v);

} // namespace dbf

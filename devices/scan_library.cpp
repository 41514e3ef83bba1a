#include "devices/scan_library.h"

#include "app/bmp_file.h"
#include "devices/twain_errors.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <poll.h>

namespace {

// SANE is process-wide: started by the first user, stopped by the last.
std::mutex g_saneMutex;
int g_saneUsers = 0;
bool g_saneUp = false;

bool StartSane() {
    std::lock_guard lock(g_saneMutex);
    if (g_saneUsers == 0) {
        SANE_Int version = 0;
        g_saneUp = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
        if (!g_saneUp) return false;
    }
    ++g_saneUsers;
    return true;
}

void StopSane() {
    std::lock_guard lock(g_saneMutex);
    if (--g_saneUsers == 0 && g_saneUp) {
        sane_exit();
        g_saneUp = false;
    }
}

// The error numbers SANE's conditions come out as. Conditions that TWAIN
// reports as a condition code travel as the extended error.
int MapStatus(SANE_Status status, int* extended) {
    using namespace twain_error;
    *extended = 0;
    switch (status) {
    case SANE_STATUS_GOOD:
        return kNoError;
    case SANE_STATUS_UNSUPPORTED:
        return kFunctionNotAvailable;
    case SANE_STATUS_CANCELLED:
        return kUserCanceled;
    case SANE_STATUS_DEVICE_BUSY:
        *extended = kCondSourceBusy;
        return kExtendedError;
    case SANE_STATUS_INVAL:
        *extended = kCondBadValue;
        return kExtendedError;
    case SANE_STATUS_EOF:
        return kNoData;
    case SANE_STATUS_JAMMED:
        return kPaperNotUnloaded;
    case SANE_STATUS_NO_DOCS:
        return kTwainAdfEmpty;
    case SANE_STATUS_COVER_OPEN:
        return kAdfLidOpened;
    case SANE_STATUS_IO_ERROR:
        return kScannerError;
    case SANE_STATUS_NO_MEM:
        return kNoMemory;
    case SANE_STATUS_ACCESS_DENIED:
        return kNoDataSource;
    default:
        *extended = kCondFailure;
        return kExtendedError;
    }
}

int FindOption(SANE_Handle h, const char* name, const SANE_Option_Descriptor** out) {
    SANE_Int count = 0;
    if (sane_control_option(h, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
        return -1;
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
        if (d && d->name && std::strcmp(d->name, name) == 0) {
            if (out) *out = d;
            return i;
        }
    }
    return -1;
}

double ToDouble(const SANE_Option_Descriptor* d, SANE_Word w) {
    return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w);
}

SANE_Word FromDouble(const SANE_Option_Descriptor* d, double v) {
    return d->type == SANE_TYPE_FIXED ? SANE_FIX(v) : SANE_Word(std::lround(v));
}

// Reads the first value of a numeric option.
bool GetNumber(SANE_Handle h, int index, const SANE_Option_Descriptor* d, double* v) {
    if (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED && d->type != SANE_TYPE_BOOL)
        return false;
    if (d->size < SANE_Int(sizeof(SANE_Word))) return false;
    std::vector<SANE_Word> words(size_t(d->size) / sizeof(SANE_Word) + 1);
    if (sane_control_option(h, index, SANE_ACTION_GET_VALUE, words.data(), nullptr) !=
        SANE_STATUS_GOOD)
        return false;
    *v = ToDouble(d, words[0]);
    return true;
}

// The bounds of a ranged numeric option.
bool RangeOf(const SANE_Option_Descriptor* d, double* min, double* max) {
    if (!d || d->constraint_type != SANE_CONSTRAINT_RANGE || !d->constraint.range) return false;
    *min = ToDouble(d, d->constraint.range->min);
    *max = ToDouble(d, d->constraint.range->max);
    return true;
}

} // namespace

CScanLibrary::CScanLibrary() {
    m_started = StartSane();
}

CScanLibrary::~CScanLibrary() {
    Close();
    if (m_started) StopSane();
}

void CScanLibrary::Close() {
    if (m_handle) sane_close(SANE_Handle(m_handle));
    m_handle = nullptr;
}

int CScanLibrary::Fail(int status) {
    return MapStatus(SANE_Status(status), &m_extended);
}

int CScanLibrary::ListSources(std::vector<std::string>* names) {
    names->clear();
    if (!m_started) return twain_error::kNoSourceManager;
    const SANE_Device** list = nullptr;
    SANE_Status st;
    {
        // Listing probes every backend; one listing at a time.
        std::lock_guard lock(g_saneMutex);
        st = sane_get_devices(&list, SANE_FALSE);
    }
    if (st != SANE_STATUS_GOOD) return Fail(st);
    for (int i = 0; list && list[i]; ++i)
        if (list[i]->name && *list[i]->name) names->push_back(list[i]->name);
    return 0;
}

int CScanLibrary::OpenSource(const std::string& name) {
    Close();
    if (!m_started) return twain_error::kNoSourceManager;
    if (name.empty()) return twain_error::kNoDataSource;
    SANE_Handle h = nullptr;
    const SANE_Status st = sane_open(name.c_str(), &h);
    if (st == SANE_STATUS_INVAL || (st == SANE_STATUS_GOOD && !h)) {
        // No device of that name.
        m_extended = twain_error::kCondNoSource;
        return twain_error::kNoDataSource;
    }
    if (st != SANE_STATUS_GOOD) return Fail(st);
    m_handle = h;
    return 0;
}

int CScanLibrary::PrepareSource(const ScanOptionValues& options) {
    if (!m_handle) return twain_error::kNoDataSource;
    for (const auto& [name, value] : options) {
        const SANE_Option_Descriptor* d = nullptr;
        if (FindOption(SANE_Handle(m_handle), name.c_str(), &d) < 0) continue;
        if (!SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap)) continue;
        if (const int e = SetOption(name, value)) return e;
    }
    return 0;
}

int CScanLibrary::GetPhysicalSize(bool* known, double* width, double* height) {
    *known = false;
    *width = *height = 0;
    if (!m_handle) return twain_error::kNoDataSource;
    SANE_Handle h = SANE_Handle(m_handle);
    const SANE_Option_Descriptor *tlx = nullptr, *tly = nullptr, *brx = nullptr, *bry = nullptr;
    FindOption(h, SANE_NAME_SCAN_TL_X, &tlx);
    FindOption(h, SANE_NAME_SCAN_TL_Y, &tly);
    FindOption(h, SANE_NAME_SCAN_BR_X, &brx);
    FindOption(h, SANE_NAME_SCAN_BR_Y, &bry);
    double x0, x1, y0, y1, unused;
    if (!RangeOf(tlx, &x0, &unused) || !RangeOf(tly, &y0, &unused) || !RangeOf(brx, &unused, &x1) ||
        !RangeOf(bry, &unused, &y1))
        return 0; // no page geometry: the size is unknown
    // The size travels in thousandths of the unit, as whole numbers.
    const long w = std::lround((x1 - x0) * 1000), hgt = std::lround((y1 - y0) * 1000);
    if (w < 0 || hgt < 0) return 0;
    *known = true;
    *width = double(w) / 1000;
    *height = double(hgt) / 1000;
    return 0;
}

int CScanLibrary::AcquireArea(const ScanArea& area, ScanImage* image, ScanProgress* progress) {
    *image = ScanImage();
    if (!m_handle) return twain_error::kNoDataSource;
    SANE_Handle h = SANE_Handle(m_handle);
    if (area.right <= area.left || area.bottom <= area.top) return 0; // no pixel in it
    const SANE_Option_Descriptor* d[4] = {};
    const int idx[4] = {
        FindOption(h, SANE_NAME_SCAN_TL_X, &d[0]), FindOption(h, SANE_NAME_SCAN_TL_Y, &d[1]),
        FindOption(h, SANE_NAME_SCAN_BR_X, &d[2]), FindOption(h, SANE_NAME_SCAN_BR_Y, &d[3])};
    for (int i = 0; i < 4; ++i)
        if (idx[i] < 0) return twain_error::kFunctionNotAvailable;
    double x0 = 0, y0 = 0, unused;
    RangeOf(d[0], &x0, &unused);
    RangeOf(d[1], &y0, &unused);
    const double want[4] = {x0 + area.left / 1000.0, y0 + area.top / 1000.0,
                            x0 + area.right / 1000.0, y0 + area.bottom / 1000.0};
    // The top-left corner goes to the page's corner first, so that no step
    // asks for a bottom-right corner above or left of the top-left one.
    const int order[6][2] = {{0, -1}, {1, -1}, {2, 2}, {3, 3}, {0, 0}, {1, 1}};
    for (const auto& [opt, value] : order) {
        const SANE_Option_Descriptor* desc = sane_get_option_descriptor(h, idx[opt]);
        if (!desc) return twain_error::kFunctionNotAvailable;
        double v = value < 0 ? (opt == 0 ? x0 : y0) : want[value];
        double lo, hi;
        if (RangeOf(desc, &lo, &hi)) v = std::clamp(v, lo, hi);
        std::vector<SANE_Word> words(std::max<size_t>(1, size_t(desc->size) / sizeof(SANE_Word)),
                                     FromDouble(desc, v));
        SANE_Int info = 0;
        const SANE_Status st =
            sane_control_option(h, idx[opt], SANE_ACTION_SET_VALUE, words.data(), &info);
        if (st != SANE_STATUS_GOOD) return Fail(st);
    }
    return Acquire(image, progress);
}

int CScanLibrary::Acquire(ScanImage* image, ScanProgress* progress) {
    *image = ScanImage();
    if (!m_handle) return twain_error::kNoDataSource;
    SANE_Parameters p{};
    // An area without a whole pixel brings an empty picture, not a failure:
    // the caller tells the user the area is too small.
    if (sane_get_parameters(SANE_Handle(m_handle), &p) == SANE_STATUS_GOOD &&
        (p.pixels_per_line <= 0 || p.lines == 0))
        return 0;
    const int e = Read(image, progress);
    if (e) *image = ScanImage();
    return e;
}

namespace {

// One sample of a line as 0..255.
uint8_t Sample(const uint8_t* line, int depth, int i) {
    switch (depth) {
    case 1:
        return (line[i >> 3] >> (7 - (i & 7))) & 1 ? 255 : 0;
    case 8:
        return line[i];
    case 16: { // machine byte order
        uint16_t v;
        std::memcpy(&v, line + 2 * i, 2);
        return uint8_t(v >> 8);
    }
    default:
        return 0;
    }
}

} // namespace

int CScanLibrary::Read(ScanImage* image, ScanProgress* progress) {
    SANE_Handle h = SANE_Handle(m_handle);
    auto cancelled = [&] { return progress && progress->cancel.load(); };
    int width = 0;
    int frameNo = 0;
    std::vector<uint8_t> rgb;
    int rows = 0;
    for (;;) {
        if (cancelled()) {
            sane_cancel(h);
            return twain_error::kUserCanceled;
        }
        SANE_Status st = sane_start(h);
        if (st != SANE_STATUS_GOOD) {
            sane_cancel(h);
            return Fail(st);
        }
        SANE_Parameters p{};
        st = sane_get_parameters(h, &p);
        if (st != SANE_STATUS_GOOD) {
            sane_cancel(h);
            return Fail(st);
        }
        const bool single = p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN ||
                            p.format == SANE_FRAME_BLUE;
        if ((p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB && !single) ||
            (p.depth != 1 && p.depth != 8 && p.depth != 16)) {
            sane_cancel(h);
            return twain_error::kBitsPerPixelNotSupported;
        }
        const int channels = p.format == SANE_FRAME_RGB ? 3 : 1;
        if (p.pixels_per_line <= 0 || p.bytes_per_line <= 0 ||
            int64_t(p.bytes_per_line) * 8 < int64_t(p.pixels_per_line) * channels * p.depth) {
            sane_cancel(h);
            // A frame without pixels before any data: nothing to show.
            if (p.pixels_per_line <= 0 && frameNo == 0) return 0;
            return twain_error::kNoData;
        }
        if (frameNo == 0) {
            width = p.pixels_per_line;
        } else if (p.pixels_per_line != width) {
            sane_cancel(h);
            return twain_error::kNoData;
        }
        if (!BMP_File::SizeAllowed(width, std::max(1, p.lines))) {
            sane_cancel(h);
            return twain_error::kTooLarge;
        }
        const int frames = single ? 3 : 1;
        if (progress) progress->linesTotal = p.lines < 0 ? -1 : p.lines * frames;
        const size_t bpl = size_t(p.bytes_per_line);
        std::vector<uint8_t> line(bpl);
        size_t filled = 0;
        int row = 0;
        const int plane = p.format == SANE_FRAME_RED ? 0 : p.format == SANE_FRAME_GREEN ? 1 : 2;
        try {
            if (p.lines > 0 && rgb.size() < size_t(width) * size_t(p.lines) * 3)
                rgb.resize(size_t(width) * size_t(p.lines) * 3);
            std::vector<uint8_t> chunk(std::max<size_t>(bpl, 32768));
            // A device that offers a descriptor to wait on is waited on in
            // short steps, so that a cancel request is seen while it is slow.
            SANE_Int fd = -1;
            if (sane_get_select_fd(h, &fd) != SANE_STATUS_GOOD) fd = -1;
            for (;;) {
                if (cancelled()) {
                    sane_cancel(h);
                    return twain_error::kUserCanceled;
                }
                if (fd >= 0) {
                    pollfd pfd{fd, POLLIN, 0};
                    const int ready = ::poll(&pfd, 1, 100);
                    if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
                }
                SANE_Int got = 0;
                st = sane_read(h, chunk.data(), SANE_Int(chunk.size()), &got);
                if (st == SANE_STATUS_EOF) break;
                if (st != SANE_STATUS_GOOD) {
                    sane_cancel(h);
                    return Fail(st);
                }
                for (SANE_Int i = 0; i < got;) {
                    const size_t take = std::min(bpl - filled, size_t(got - i));
                    std::memcpy(line.data() + filled, chunk.data() + i, take);
                    filled += take;
                    i += SANE_Int(take);
                    if (filled < bpl) continue;
                    filled = 0;
                    if (p.lines > 0 && row >= p.lines) continue; // more than announced
                    if (p.lines < 0) {
                        if (!BMP_File::SizeAllowed(width, row + 1)) {
                            sane_cancel(h);
                            return twain_error::kTooLarge;
                        }
                        if (rgb.size() < size_t(row + 1) * size_t(width) * 3)
                            rgb.resize(size_t(row + 1) * size_t(width) * 3);
                    }
                    uint8_t* out = rgb.data() + size_t(row) * size_t(width) * 3;
                    for (int x = 0; x < width; ++x) {
                        if (p.format == SANE_FRAME_RGB) {
                            for (int c = 0; c < 3; ++c)
                                out[3 * x + c] = Sample(line.data(), p.depth, 3 * x + c);
                        } else if (single) {
                            out[3 * x + plane] = Sample(line.data(), p.depth, x);
                        } else {
                            uint8_t v = Sample(line.data(), p.depth, x);
                            if (p.depth == 1) v = uint8_t(255 - v); // a set bit is black
                            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = v;
                        }
                    }
                    ++row;
                    if (progress) progress->linesRead = frameNo * std::max(p.lines, 0) + row;
                }
            }
        } catch (const std::bad_alloc&) {
            sane_cancel(h);
            return twain_error::kNoMemory;
        }
        rows = frameNo == 0 ? row : std::min(rows, row);
        ++frameNo;
        if (p.last_frame) break;
        if (frameNo >= 3) break;
    }
    sane_cancel(h); // ends the scan; the device is ready for the next one
    if (rows <= 0) return 0;
    rgb.resize(size_t(rows) * size_t(width) * 3);
    image->width = width;
    image->height = rows;
    image->rgb = std::move(rgb);
    return 0;
}

int CScanLibrary::SaveBMP(const ScanImage& image, const std::string& path) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() < size_t(image.width) * size_t(image.height) * 3)
        return twain_error::kVariableOutOfRange;
    BMP_File bmp;
    if (!bmp.CreateUninitialized(image.width, image.height)) return twain_error::kNoMemory;
    std::memcpy(bmp.Bytes(), image.rgb.data(), bmp.PixelBytes());
    errno = 0;
    if (!bmp.SaveBMP(path))
        return errno == ENOSPC ? twain_error::kDiskFull : twain_error::kCannotCreateFile;
    return 0;
}

int CScanLibrary::FreeImage(ScanImage* image) {
    *image = ScanImage();
    image->rgb.shrink_to_fit();
    return 0;
}

int CScanLibrary::ListOptions(std::vector<ScanOption>* options) {
    options->clear();
    if (!m_handle) return twain_error::kNoDataSource;
    SANE_Handle h = SANE_Handle(m_handle);
    SANE_Int count = 0;
    const SANE_Status st = sane_control_option(h, 0, SANE_ACTION_GET_VALUE, &count, nullptr);
    if (st != SANE_STATUS_GOOD) return Fail(st);
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
        if (!d) continue;
        ScanOption o;
        o.name = d->name ? d->name : "";
        o.title = d->title ? d->title : o.name;
        o.description = d->desc ? d->desc : "";
        switch (d->type) {
        case SANE_TYPE_BOOL:
            o.kind = ScanOption::Bool;
            break;
        case SANE_TYPE_INT:
            o.kind = ScanOption::Int;
            break;
        case SANE_TYPE_FIXED:
            o.kind = ScanOption::Fixed;
            break;
        case SANE_TYPE_STRING:
            o.kind = ScanOption::String;
            break;
        case SANE_TYPE_BUTTON:
            o.kind = ScanOption::Button;
            break;
        default:
            o.kind = ScanOption::Group;
            break;
        }
        static const char* const kUnits[] = {"", "pel", "bit", "mm", "dpi", "%", "us"};
        if (d->unit >= 0 && size_t(d->unit) < std::size(kUnits)) o.unit = kUnits[d->unit];
        o.active = SANE_OPTION_IS_ACTIVE(d->cap);
        o.settable = SANE_OPTION_IS_SETTABLE(d->cap);
        o.automatic = (d->cap & SANE_CAP_AUTOMATIC) != 0;
        if ((o.kind == ScanOption::Int || o.kind == ScanOption::Fixed) && d->size > 0)
            o.count = int(size_t(d->size) / sizeof(SANE_Word));
        if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
            o.limit = ScanOption::Range;
            o.min = ToDouble(d, d->constraint.range->min);
            o.max = ToDouble(d, d->constraint.range->max);
            o.quant = ToDouble(d, d->constraint.range->quant);
        } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
            o.limit = ScanOption::WordList;
            for (SANE_Int k = 1; k <= d->constraint.word_list[0]; ++k)
                o.words.push_back(ToDouble(d, d->constraint.word_list[k]));
        } else if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST && d->constraint.string_list) {
            o.limit = ScanOption::StringList;
            for (int k = 0; d->constraint.string_list[k]; ++k)
                o.strings.push_back(d->constraint.string_list[k]);
        }
        // Values can be read only from active, detectable options.
        if (o.active && (d->cap & SANE_CAP_SOFT_DETECT)) {
            if (o.kind == ScanOption::String && d->size > 0) {
                std::vector<char> text(size_t(d->size) + 1, '\0');
                if (sane_control_option(h, i, SANE_ACTION_GET_VALUE, text.data(), nullptr) ==
                    SANE_STATUS_GOOD)
                    o.text = text.data();
            } else if (o.kind != ScanOption::Button && o.kind != ScanOption::Group) {
                GetNumber(h, i, d, &o.number);
            }
        }
        options->push_back(std::move(o));
    }
    return 0;
}

int CScanLibrary::SetOption(const std::string& name, const std::string& value, bool* reload) {
    if (reload) *reload = false;
    if (!m_handle) return twain_error::kNoDataSource;
    SANE_Handle h = SANE_Handle(m_handle);
    const SANE_Option_Descriptor* d = nullptr;
    const int index = FindOption(h, name.c_str(), &d);
    if (index < 0) {
        m_extended = twain_error::kCondBadValue;
        return twain_error::kExtendedError;
    }
    SANE_Int info = 0;
    SANE_Status st;
    if (d->type == SANE_TYPE_STRING) {
        std::vector<char> text(std::max<size_t>(size_t(std::max(d->size, 0)), value.size() + 1),
                               '\0');
        if (value.size() + 1 > size_t(std::max(d->size, 0)))
            return twain_error::kVariableOutOfRange;
        std::memcpy(text.data(), value.c_str(), value.size());
        st = sane_control_option(h, index, SANE_ACTION_SET_VALUE, text.data(), &info);
    } else if (d->type == SANE_TYPE_BUTTON) {
        st = sane_control_option(h, index, SANE_ACTION_SET_VALUE, nullptr, &info);
    } else if (d->type == SANE_TYPE_BOOL || d->type == SANE_TYPE_INT ||
               d->type == SANE_TYPE_FIXED) {
        char* end = nullptr;
        const double v = std::strtod(value.c_str(), &end);
        if (end == value.c_str() || !std::isfinite(v)) return twain_error::kVariableOutOfRange;
        SANE_Word w =
            d->type == SANE_TYPE_BOOL ? (v != 0 ? SANE_TRUE : SANE_FALSE) : FromDouble(d, v);
        // Arrays take the value in each element.
        std::vector<SANE_Word> words(
            std::max<size_t>(1, size_t(std::max(d->size, 0)) / sizeof(SANE_Word)), w);
        st = sane_control_option(h, index, SANE_ACTION_SET_VALUE, words.data(), &info);
    } else {
        return twain_error::kFunctionNotAvailable;
    }
    if (st != SANE_STATUS_GOOD) return Fail(st);
    if (reload) *reload = (info & SANE_INFO_RELOAD_OPTIONS) != 0;
    return 0;
}

// pellorin-cli: applies a saved treatment (.qvc) to image files and folders
// without the desktop program.

#include "app/file_util.h"
#include "app/folder_list.h"
#include "app/image_files.h"
#include "app/settings_fields.h"
#include "app/view_frames.h"
#include "pipeline/batch.h"
#include "pipeline/pipeline.h"
#include "video/avi_encoders.h"
#include "video/avi_video_file.h"
#include "video/frame_loop.h"
#include "video/frame_source.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Usage:\n"
    "  pellorin-cli defaults\n"
    "      Write the default configuration file to standard output.\n"
    "  pellorin-cli info [--max-megapixels N] FILE...\n"
    "      Print the size, frame count and frame rate of each file.\n"
    "  pellorin-cli apply --config FILE.qvc [--preview] [--view WxH]\n"
    "                     (--output FILE | --out-dir DIR [--format EXT])\n"
    "                     [--codec NAME] [--jobs N] [--shard K/N] [--max-megapixels N]\n"
    "                     [--strip] [--keep-orientation] INPUT...\n"
    "      Apply the treatment saved in FILE.qvc to every INPUT (a file, or a folder\n"
    "      whose images are taken in the order \"Load Next\" steps through them) and\n"
    "      save each result by the output's extension (png, jpg, gif, bmp, tif, tga,\n"
    "      ico). --preview makes the result at the view size instead of full size;\n"
    "      --view is the size of the view the crop and light frames refer to\n"
    "      (default @VIEW@, the desktop program's views at its default size).\n"
    "      An AVI video or animated GIF input is written frame by frame, every frame\n"
    "      at full size, as an AVI (avi) or animated GIF (gif) by the output's\n"
    "      extension; with --out-dir it keeps its own format unless --format says\n"
    "      otherwise. --codec names the AVI encoder (default mjpeg, Motion JPEG; a\n"
    "      name this machine lacks is refused with the list of those it has).\n"
    "      --jobs sets how many inputs run at once (default: the number of cores).\n"
    "      --shard K/N takes only the K-th of N near-equal shares of the inputs, in\n"
    "      their order, so that N workers (on one machine or several) split a batch\n"
    "      without two of them writing the same file.\n"
    "      Metadata (EXIF, IPTC, XMP, colour profile) goes from each input to its\n"
    "      result unless --strip; photographs are turned upright by their EXIF\n"
    "      orientation before the treatment unless --keep-orientation.\n"
    "\n"
    "--max-megapixels N sets the size limit for input pictures (default 1000, a\n"
    "picture of 3 GB in memory); a file that claims more is refused before it is\n"
    "decoded. Each input at once needs about three times its size in memory, so\n"
    "raise the limit together with fewer --jobs.\n"
    "\n"
    "Exit status: 0 when every input succeeded, 1 when any failed, 2 for a usage error.\n";

// The usage text with the default view size filled in.
std::string UsageText() {
    std::string text = kUsage;
    const size_t at = text.find("@VIEW@");
    if (at != std::string::npos)
        text.replace(at, 6,
                     std::to_string(kDefaultViewWidth) + "x" + std::to_string(kDefaultViewHeight));
    return text;
}

int Usage(const std::string& problem) {
    if (!problem.empty()) std::cerr << "pellorin-cli: " << problem << "\n";
    std::cerr << UsageText();
    return kExitUsage;
}

bool IsDirectory(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ParseInt(const std::string& s, int& out) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    out = std::stoi(s);
    return true;
}

bool ParseSize(const std::string& s, ViewSize& v) {
    const size_t x = s.find_first_of("xX");
    if (x == std::string::npos) return false;
    int w = 0, h = 0;
    // The frames are placed 5 pixels in from the view's edges, so a usable view
    // is larger than that.
    if (!ParseInt(s.substr(0, x), w) || !ParseInt(s.substr(x + 1), h) || w <= kFrameInflation ||
        h <= kFrameInflation || w > BMP_File::kMaxSide || h > BMP_File::kMaxSide)
        return false;
    v = ViewSize{w, h};
    return true;
}

// The largest picture whose sides both fit the image type.
constexpr int64_t kMostMegapixels = int64_t(BMP_File::kMaxSide) * BMP_File::kMaxSide / 1000000;

bool ParseMegapixels(const std::string& s) {
    int megapixels = 0;
    if (!ParseInt(s, megapixels) || megapixels < 1 || megapixels > kMostMegapixels) return false;
    BMP_File::SetMaxPixels(int64_t(megapixels) * 1000000);
    return true;
}

const std::string kMegapixelsProblem =
    "--max-megapixels needs a whole number from 1 to " + std::to_string(kMostMegapixels);

// One line per failed input: the message and, when the decoder said more, its reason.
std::string FailureText(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + ": " + reason;
}

std::string BaseName(const std::string& p) {
    const size_t slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string StemOf(const std::string& p) {
    std::string b = BaseName(p);
    const size_t dot = b.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? b : b.substr(0, dot);
}

bool IsAviInput(const std::string& p) {
    return ExtensionOf(p) == "avi";
}

// An input that may be written as a video: an AVI, or a GIF of several frames.
bool MayBeVideo(const std::string& p) {
    return IsAviInput(p) || ExtensionOf(p) == "gif";
}

int Defaults() {
    ProcessingSettings s;
    s.SetViewDefaults(kDefaultViewWidth, kDefaultViewHeight);
    SetDefaultFrames(s, kDefaultViewWidth, kDefaultViewHeight);
    SettingsFile file(s);
    const std::string bytes = file.storage.FileBytes();
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

// A rate in frames per second: whole, or with up to three decimals.
std::string RateText(double rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", rate);
    std::string t = text;
    while (t.back() == '0') t.pop_back();
    if (t.back() == '.') t.pop_back();
    return t;
}

std::string FramesText(int n) {
    return std::to_string(n) + (n == 1 ? " frame" : " frames");
}

// The info line of an AVI or animated GIF; false for other files (and GIFs of
// one frame), which are described as pictures.
bool InfoOfVideo(const std::string& f, int& status) {
    const std::string ext = ExtensionOf(f);
    std::string message;
    if (ext == "avi") {
        auto avi = AviVideoFile::Open(f, &message);
        if (!avi) {
            std::cerr << "pellorin-cli: " << f << ": " << message << "\n";
            status = kExitFailed;
            return true;
        }
        std::cout << f << ": " << avi->Width() << "x" << avi->Height() << ", "
                  << FramesText(avi->FrameCount()) << ", "
                  << RateText(double(avi->RateNumerator()) / avi->RateDenominator()) << " fps\n";
        return true;
    }
    if (ext != "gif") return false;
    auto gif = OpenGifSource(f, &message);
    if (!gif) {
        // Without libzembra a GIF is read as a picture, and the user hears why.
        if (!message.empty())
            std::cerr << "pellorin-cli: " << f << ": warning: " << message << "\n";
        return false;
    }
    BMP_File first;
    gif->LoadFrame(0, first);
    int64_t hundredths = 0;
    for (int i = 0; i < gif->FrameCount(); ++i) hundredths += std::max(0, gif->FrameDelay(i));
    std::cout << f << ": " << first.Width() << "x" << first.Height() << ", "
              << FramesText(gif->FrameCount()) << ", "
              << (hundredths > 0 ? RateText(100.0 * gif->FrameCount() / double(hundredths)) : "-")
              << " fps\n";
    return true;
}

int Info(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--max-megapixels") {
            if (i + 1 >= argc || !ParseMegapixels(argv[++i])) return Usage(kMegapixelsProblem);
        } else if (a == "--") {
            files.insert(files.end(), argv + i + 1, argv + argc);
            break;
        } else if (a.starts_with("-") && a.size() > 1) {
            return Usage("unknown option " + a);
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) return Usage("info needs at least one FILE");
    int status = kExitOk;
    for (const auto& f : files) {
        if (InfoOfVideo(f, status)) continue;
        BMP_File img;
        std::string message, reason, warning;
        LoadOptions load;
        load.warning = &warning;
        if (!LoadImageFile(f, img, &message, &reason, load)) {
            std::cerr << "pellorin-cli: " << f << ": " << FailureText(message, reason) << "\n";
            status = kExitFailed;
            continue;
        }
        if (!warning.empty())
            std::cerr << "pellorin-cli: " << f << ": warning: " << warning << "\n";
        std::cout << f << ": " << img.Width() << "x" << img.Height() << ", 1 frame, - fps\n";
    }
    return status;
}

struct ApplyOptions {
    std::string config;
    bool preview = false;
    ViewSize view;
    std::string output, outDir, format;
    int jobs = 0;
    int shard = 1, shards = 1; // --shard K/N
    AviCodecOptions codec;
    bool strip = false;
    bool keepOrientation = false;
    std::vector<std::string> inputs;
};

int Apply(const ApplyOptions& o) {
    ProcessingSettings settings;
    settings.SetViewDefaults(o.view.width, o.view.height);
    SetDefaultFrames(settings, o.view.width, o.view.height);
    SettingsFile file(settings);
    if (!file.Load(o.config)) {
        std::cerr << "pellorin-cli: cannot read the configuration file " << o.config << "\n";
        return kExitUsage;
    }
    // As the desktop program does after loading a configuration: place the
    // frames from their fractions in the view, then let every frame the file
    // holds fractions for, and every shown frame, set its rectangle.
    FramesFromFractions(settings, o.view.width, o.view.height);
    CopyLoadedFramesToSettings(settings, file.FramesWithFractions());

    std::vector<BatchJob> jobs;
    for (const auto& in : o.inputs) {
        if (IsDirectory(in)) {
            const auto list = ListFolderImages(in, 1);
            if (list.empty()) jobs.push_back(BatchJob{in, {}, "no images in this folder"});
            for (const auto& f : list) jobs.push_back(BatchJob{f, {}, {}});
        } else {
            jobs.push_back(BatchJob{in, {}, {}});
        }
    }
    if (!o.output.empty() && jobs.size() != 1)
        return Usage("--output takes exactly one input image; use --out-dir for several");

    std::set<std::string> used;
    for (auto& j : jobs) {
        if (!j.error.empty()) continue;
        if (!o.output.empty()) {
            j.output = o.output;
        } else {
            std::string ext = o.format;
            if (ext.empty())
                ext = IsAviInput(j.input) || IsSavableStillImage(j.input) ? ExtensionOf(j.input)
                                                                          : "png";
            j.output =
                o.outDir + (o.outDir.ends_with('/') ? "" : "/") + StemOf(j.input) + "." + ext;
        }
        if (IsAviInput(j.input) && !IsVideoOutput(j.output)) {
            j.error = "a video is written as avi or gif, not as " + j.output;
        } else if (!IsSavableStillImage(j.output) &&
                   !(IsVideoOutput(j.output) && MayBeVideo(j.input))) {
            j.error = "cannot save in the format of " + j.output;
        } else if (!used.insert(j.output).second) {
            // Two inputs with the same name in different formats would
            // overwrite each other's result.
            j.error = "another input already writes " + j.output;
        }
    }

    // The share is taken from the whole list, names settled: every worker
    // sees the same list, so the shares meet without overlap or gap.
    if (o.shards > 1) {
        const size_t total = jobs.size();
        const size_t from = total * size_t(o.shard - 1) / size_t(o.shards);
        const size_t to = total * size_t(o.shard) / size_t(o.shards);
        jobs = std::vector<BatchJob>(jobs.begin() + from, jobs.begin() + to);
    }

    BatchOptions batch;
    batch.mode = o.preview ? ProcessMode::Preview : ProcessMode::Final;
    batch.view = o.view;
    batch.strip = o.strip;
    batch.keepOrientation = o.keepOrientation;
    batch.workers = o.jobs;
    const bool progress = ::isatty(STDERR_FILENO);
    // The batch makes one call at a time, so the lines never mix.
    BatchEvents events;
    events.failed = [&](const BatchJob& j, const std::string& why) {
        if (progress) std::cerr << "\r\033[K";
        std::cerr << "pellorin-cli: " << j.input << ": " << why << "\n";
    };
    // Metadata that could not be read or written costs the picture nothing,
    // but the user hears of it: one line, and the input still succeeds.
    events.warning = [&](const BatchJob& j, const std::string& what) {
        if (progress) std::cerr << "\r\033[K";
        std::cerr << "pellorin-cli: " << j.input << ": warning: " << what << "\n";
    };
    // Lines of a video's frame progress and the batch's own lines come from
    // different threads: one lock for the terminal.
    std::mutex outputLock;
    auto warn = [&](const BatchJob& j, const std::string& what) {
        if (!what.empty()) events.warning(j, what); // takes the lock below
    };
    // Writes an AVI or animated GIF input as a video. False when the input
    // is no animation (a GIF of one frame) and goes the way of pictures; why
    // says what went wrong.
    batch.other = [&](const BatchJob& j, std::string& why) {
        std::string message;
        std::unique_ptr<FrameSource> source;
        if (IsAviInput(j.input)) {
            source = OpenAviSource(j.input, &message);
            if (!source) {
                why = message;
                return true;
            }
        } else if (ExtensionOf(j.input) == "gif") {
            source = OpenGifSource(j.input, &message);
            // Without libzembra an animated GIF is read as a picture.
            if (!source) warn(j, message);
        }
        if (!source) {
            if (IsVideoOutput(j.output) && !IsSavableStillImage(j.output))
                why = "not an animation: it cannot be written as " + j.output;
            return false;
        }
        if (!IsVideoOutput(j.output)) return false; // a GIF's first frame as a picture
        if (o.preview) {
            why = "--preview makes pictures; a video is written at full size";
            return true;
        }
        const std::string name = BaseName(j.input);
        const int count = source->FrameCount();
        const auto result = RunFrameLoop(
            *source, settings, o.view, VideoSinkFor(j.output, o.codec), [&](int frame) {
                if (progress) {
                    std::lock_guard lock(outputLock);
                    std::cerr << "\r\033[K" << name << " frame " << frame + 1 << "/" << count
                              << std::flush;
                }
                return true;
            });
        if (!result.written) {
            why = result.error;
        } else if (result.framesReused > 0) {
            warn(j, FramesText(result.framesReused) +
                        " could not be decoded and repeat the picture before");
        }
        return true;
    };
    // The batch's own calls come one at a time; the lock keeps them apart
    // from the frame lines above.
    events.failed = [&, failed = events.failed](const BatchJob& j, const std::string& why) {
        std::lock_guard lock(outputLock);
        failed(j, why);
    };
    events.warning = [&, warning = events.warning](const BatchJob& j, const std::string& what) {
        std::lock_guard lock(outputLock);
        warning(j, what);
    };
    if (progress)
        events.finished = [&](const BatchJob& j, size_t finished) {
            std::lock_guard lock(outputLock);
            std::cerr << "\r\033[K[" << finished << "/" << jobs.size() << "] " << BaseName(j.input)
                      << std::flush;
        };
    const BatchResult result = RunBatch(jobs, settings, batch, events);
    if (progress && !jobs.empty()) std::cerr << "\n";
    return result.failed ? kExitFailed : kExitOk;
}

int ParseApply(int argc, char** argv) {
    ApplyOptions o;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--config") {
            if (!value(o.config)) return Usage("--config needs a file");
        } else if (a == "--preview") {
            o.preview = true;
        } else if (a == "--view") {
            if (!value(v) || !ParseSize(v, o.view))
                return Usage("--view needs a size like 640x480");
        } else if (a == "--output") {
            if (!value(o.output)) return Usage("--output needs a file");
        } else if (a == "--out-dir") {
            if (!value(o.outDir)) return Usage("--out-dir needs a folder");
        } else if (a == "--format") {
            if (!value(o.format)) return Usage("--format needs an extension");
            o.format = ToLowerAscii(o.format);
            if (o.format.starts_with(".")) o.format.erase(0, 1);
        } else if (a == "--codec") {
            if (!value(o.codec.encoder)) return Usage("--codec needs an encoder name");
            if (!AviEncoderNamed(o.codec.encoder)) {
                std::string names;
                for (const auto& e : AviEncoders()) names += (names.empty() ? "" : ", ") + e.name;
                return Usage("--codec: no encoder named " + o.codec.encoder +
                             " writes AVI on this machine; these do: " + names);
            }
        } else if (a == "--shard") {
            const size_t slash =
                i + 1 < argc ? std::string(argv[i + 1]).find('/') : std::string::npos;
            if (!value(v) || slash == std::string::npos || !ParseInt(v.substr(0, slash), o.shard) ||
                !ParseInt(v.substr(slash + 1), o.shards) || o.shards < 1 || o.shard < 1 ||
                o.shard > o.shards)
                return Usage("--shard needs K/N with whole numbers 1 <= K <= N, like 2/8");
        } else if (a == "--jobs") {
            if (!value(v) || !ParseInt(v, o.jobs) || o.jobs < 1)
                return Usage("--jobs needs a whole number from 1 up");
        } else if (a == "--max-megapixels") {
            if (!value(v) || !ParseMegapixels(v)) return Usage(kMegapixelsProblem);
        } else if (a == "--strip") {
            o.strip = true;
        } else if (a == "--keep-orientation") {
            o.keepOrientation = true;
        } else if (a == "--") {
            for (++i; i < argc; ++i) o.inputs.push_back(argv[i]);
        } else if (a.starts_with("-") && a.size() > 1) {
            return Usage("unknown option " + a);
        } else {
            o.inputs.push_back(a);
        }
    }
    if (o.config.empty()) return Usage("apply needs --config FILE.qvc");
    if (o.output.empty() == o.outDir.empty())
        return Usage("apply needs either --output or --out-dir");
    if (!o.format.empty() && o.outDir.empty()) return Usage("--format goes with --out-dir");
    if (!o.format.empty() && !IsSavableStillImage("x." + o.format) &&
        !IsVideoOutput("x." + o.format))
        return Usage("cannot save in the format " + o.format);
    if (o.inputs.empty()) return Usage("apply needs at least one INPUT");
    if (!o.outDir.empty() && !IsDirectory(o.outDir))
        return Usage("the output folder " + o.outDir + " does not exist");
    return Apply(o);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("");
    const std::string cmd = argv[1];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::cout << UsageText();
        return kExitOk;
    }
    if (cmd == "defaults") return argc == 2 ? Defaults() : Usage("defaults takes no arguments");
    if (cmd == "info") return Info(argc, argv);
    if (cmd == "apply") return ParseApply(argc, argv);
    return Usage("unknown command " + cmd);
}

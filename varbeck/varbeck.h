/* varbeck.h: the update check.
 *
 * Update(address, version) fetches a small update-information file in the
 * background and, when it names a newer version than the caller's, asks the
 * user whether to update; on Yes it opens the download address named in the
 * file. The call returns at once; nothing is reported back to the caller.
 *
 * The information file is plain text of two lines: the newest version as a
 * decimal number ("6", "6.0 beta" and "6.0" all read as 6), then the download
 * address. Lines end in CR, LF or any run of them; blank lines between the two
 * are skipped and anything after the address is ignored.
 *
 * Addresses:
 *   http://... and https://...  fetched with libcurl (redirects followed, the
 *                               proxy of the environment used); the answer
 *                               must be a 2xx status with a "Content-Length"
 *                               header of 1 .. VARBECK_MAX_FILE_SIZE bytes.
 *   file://[localhost]/path     the local file, percent escapes decoded.
 *   anything else               taken as the path of a local file.
 * An address longer than VARBECK_MAX_ADDRESS characters is not checked.
 *
 * The library links no user-interface toolkit: the question and the opening of
 * the address go through the handlers that the program registers with
 * VarbeckSetHandlers. The handlers are called on the checking thread, never on
 * the caller's; a toolkit program posts to its user-interface thread from
 * there and waits for the answer. Without an ask handler no question is asked.
 *
 * Every failure (an address that cannot be read, an unreachable server, a
 * missing, zero or too large "Content-Length", a body cut short, a local file
 * that is missing or no regular file, a time limit reached) ends the check
 * silently. A file whose version is the same or older, or that names no
 * download address, asks nothing.
 *
 * All strings are zero-terminated 8-bit text. No exception crosses this
 * boundary. Every function may be called from any thread.
 */
#ifndef VARBECK_VARBECK_H
#define VARBECK_VARBECK_H

#include <stdint.h>

#if defined(__GNUC__)
#define VARBECK_API __attribute__((visibility("default")))
#else
#define VARBECK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The largest information file accepted, announced or read, in bytes. A server
 * announcing more is refused before anything is allocated for it. */
#define VARBECK_MAX_FILE_SIZE 65536
/* The longest address accepted, in characters. */
#define VARBECK_MAX_ADDRESS 511
/* The time a check may take from its start to the end of the download, in
 * milliseconds, unless VarbeckSetTimeLimit sets another. */
#define VARBECK_DEFAULT_TIME_LIMIT 30000

/* The texts of the question. */
#define VARBECK_QUESTION_TITLE "Varbeck"
#define VARBECK_QUESTION_TEXT "New Version is available.\nDo you want to update?"

/* How a check ended, as reported to the done handler. */
enum {
    VARBECK_ACCEPTED = 1,     /* asked; the user said Yes; the open handler was called */
    VARBECK_DECLINED = 2,     /* asked; the user said No */
    VARBECK_NOT_ASKED = 3,    /* a newer version, but no ask handler is registered */
    VARBECK_UP_TO_DATE = 4,   /* the file's version is the same or older */
    VARBECK_NO_ADDRESS = 5,   /* a newer version, but no download address */
    VARBECK_BAD_ADDRESS = 6,  /* the address to check could not be read */
    VARBECK_FETCH_FAILED = 7, /* unreachable, refused, cut short, timed out, not 2xx, ... */
    VARBECK_TOO_LARGE = 8     /* the file is or is announced larger than the bound */
};

/* Asks the user the question (title and text as above). Returns nonzero for
 * Yes, 0 for No. Called on the checking thread; may block until answered. */
typedef int32_t (*VarbeckAskHandler)(void* context, const char* title, const char* text);
/* Opens the download address with the system's default handler. Called on the
 * checking thread after a Yes. */
typedef void (*VarbeckOpenHandler)(void* context, const char* address);
/* Called once at the end of every check started by Update, as the last thing
 * the check does with any handler or context, with one of the outcomes above. */
typedef void (*VarbeckDoneHandler)(void* context, int32_t outcome);

/* Starts a check of the information file at address against version (the
 * running program's). The address is copied, so the caller's string may go
 * away at once. Returns 1 when the check started, 0 when address is null or no
 * thread could be started. Each call starts one independent check that uses
 * the handlers and the time limit registered at the moment of the call. */
VARBECK_API int32_t Update(const char* address, float version);

/* Registers the handlers that ask the user and open the address; null
 * handlers are allowed (no question, nothing opened). Later calls replace
 * earlier ones for the checks started afterwards. */
VARBECK_API void VarbeckSetHandlers(VarbeckAskHandler ask, VarbeckOpenHandler open, void* context);

/* Registers a handler told how each check ended (for tests and diagnostics);
 * null removes it. */
VARBECK_API void VarbeckSetDoneHandler(VarbeckDoneHandler done, void* context);

/* Sets the time limit of checks started afterwards, in milliseconds; a value
 * below 1 restores VARBECK_DEFAULT_TIME_LIMIT. */
VARBECK_API void VarbeckSetTimeLimit(int32_t milliseconds);

#ifdef __cplusplus
}
#endif

#endif /* VARBECK_VARBECK_H */

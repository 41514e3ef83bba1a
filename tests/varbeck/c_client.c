/* A C client of the library: proves the header is plain C and the exports and
 * handlers are usable from C. It registers its handlers, starts one check of
 * the given address as version 5.9 and records what happens. */
#include "varbeck/varbeck.h"

#include <stdatomic.h>
#include <string.h>

static atomic_int g_outcome;
static atomic_int g_asked;
static char g_opened[VARBECK_MAX_FILE_SIZE];

static int32_t ask(void* context, const char* title, const char* text) {
    (void)context;
    atomic_fetch_add(&g_asked, 1);
    return strcmp(title, VARBECK_QUESTION_TITLE) == 0 && strcmp(text, VARBECK_QUESTION_TEXT) == 0;
}

static void open_address(void* context, const char* address) {
    (void)context;
    strncpy(g_opened, address, sizeof g_opened - 1);
}

static void done(void* context, int32_t outcome) {
    (void)context;
    atomic_store(&g_outcome, outcome);
}

int32_t varbeck_c_client_start(const char* address) {
    atomic_store(&g_outcome, 0);
    atomic_store(&g_asked, 0);
    g_opened[0] = '\0';
    VarbeckSetHandlers(ask, open_address, NULL);
    VarbeckSetDoneHandler(done, NULL);
    return Update(address, 5.9f);
}

int32_t varbeck_c_client_outcome(void) {
    return atomic_load(&g_outcome);
}
int32_t varbeck_c_client_asked(void) {
    return atomic_load(&g_asked);
}
const char* varbeck_c_client_opened(void) {
    return g_opened;
}

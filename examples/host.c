/*
 * A small host of the book-access module, in C: opens the book named on the
 * command line and prints what it can read of it through the exported calls.
 *
 *   host BOOK
 *
 * The tables of a dictionary book (kind 1) are served by the dictionary
 * engine, which looks for the dictionary files in the folder named by
 * ZOZIZID_DICT_DIR, else in "dictionaries" beside the engine library. When
 * it cannot open a table's dictionary the table shows no keys at all; the
 * host says so instead of listing nothing.
 */
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "TovixZAV_JC.h"

static void printName(const char *label, int32_t language, const char *text) {
    if (language)
        printf("%s: %s (language %d)\n", label, text, (int)language);
    else
        printf("%s: (none)\n", label);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s BOOK\n", argv[0]);
        return 2;
    }
    setlocale(LC_CTYPE, "C.UTF-8");
    size_t n = mbstowcs(NULL, argv[1], 0);
    if (n == (size_t)-1) {
        fprintf(stderr, "%s: the path is not valid text in this locale\n", argv[1]);
        return 2;
    }
    wchar_t *path = calloc(n + 1, sizeof *path);
    if (!path) return 2;
    mbstowcs(path, argv[1], n + 1);

    BookHandle book = NULL;
    int32_t rc = ZAVOpenBook(path, &book);
    free(path);
    if (rc != ZAV_OPEN_OK) {
        fprintf(stderr, "%s: cannot open the book (result %d)\n", argv[1], (int)rc);
        return 1;
    }

    char text[256];
    unsigned char caps[16];
    unsigned kind = 0;
    if (ZAVGetCaps(book, caps)) {
        kind = caps[0] | caps[1] << 8 | caps[2] << 16 | (unsigned)caps[3] << 24;
        unsigned version = caps[4] | caps[5] << 8 | caps[6] << 16 | (unsigned)caps[7] << 24;
        printf("kind %u, version %u\n", kind, version);
    }
    printName("name", ZAVGetBkName(book, ZAV_LANG_BASE, text, sizeof text), text);
    uint32_t serial = 0;
    if (ZAVBookSerial(book, &serial) == 0) printf("serial: %u\n", serial);
    printf("pages: %d\n", (int)ZAVGetPageCount(book));

    int32_t tables = ZAVGetTableCount(book);
    printf("tables: %d\n", (int)tables);
    for (int32_t t = 0; t < tables; ++t) {
        int32_t language = ZAVGetTableName(book, t, ZAV_LANG_CHOOSE, text, sizeof text);
        printf("table %d: %s, %d keys, %d pages\n", (int)t, language ? text : "(no name)", (int)ZAVGetKeyCount(book, t),
               (int)ZAVGetTablePageCount(book, t));
        int32_t keys = ZAVGetKeyCount(book, t);
        if (kind == BOOK_KIND_DICTIONARY && keys == 0) {
            const char *folder = getenv("ZOZIZID_DICT_DIR");
            printf("  the dictionary engine cannot open dictionary %08x (looked in %s)\n",
                   (unsigned)ZAVGetDictClass(book, t),
                   folder && *folder ? folder : "the folder 'dictionaries' beside the engine library");
            printf("  set ZOZIZID_DICT_DIR to the folder that holds %08x.zzd\n", (unsigned)ZAVGetDictClass(book, t));
        }
        for (int32_t k = 0; k < keys && k < 5; ++k) {
            ZAVGetKeyWord(book, t, (uint32_t)k, text, (int32_t)sizeof text);
            printf("  key %d: %s -> page %d\n", (int)k, text, (int)ZAVGetKeyPageNo(book, t, (uint32_t)k));
        }
    }
    ZAVCloseBook(book);
    return 0;
}

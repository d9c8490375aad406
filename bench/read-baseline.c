/* The floor for indexing a tree: read every page (files whose name holds ".htm" in any
 * letter case) whole and touch every byte once, by counting its '<' bytes up to the
 * page's first NUL byte. One thread, one read buffer. Prints pages, bytes and the count.
 *
 *     read-baseline FOLDER
 */
#define _XOPEN_SOURCE 700
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

static char* buffer;
static size_t capacity;
static unsigned long long pages, bytes, angles;

static int isPageName(const char* name)
{
    for (; *name; ++name)
        if (strncasecmp(name, ".htm", 4) == 0)
            return 1;
    return 0;
}

static int readPage(const char* path, const struct stat* info, int type, struct FTW* where)
{
    if (type != FTW_F || !S_ISREG(info->st_mode) || !isPageName(path + where->base))
        return 0;
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return 0;
    size_t length = 0;
    for (;;) {
        if (length == capacity) {
            capacity = capacity ? capacity * 2 : 1 << 20;
            buffer = realloc(buffer, capacity);
            if (!buffer) {
                perror("realloc");
                exit(1);
            }
        }
        ssize_t got = read(fd, buffer + length, capacity - length);
        if (got <= 0)
            break;
        length += (size_t)got;
    }
    close(fd);
    const char* end = memchr(buffer, '\0', length);
    size_t textLength = end ? (size_t)(end - buffer) : length;
    unsigned long long count = 0;
    for (size_t i = 0; i < textLength; ++i)
        count += buffer[i] == '<';
    ++pages;
    bytes += length;
    angles += count;
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    if (nftw(argv[1], readPage, 64, 0) != 0) {
        perror(argv[1]);
        return 1;
    }
    printf("%llu pages, %llu bytes, %llu '<'\n", pages, bytes, angles);
    return 0;
}

/* The yardstick for our LZX: wimlib's LZX compressor, used through its API
 * only, on a file in chunks of its largest window (2 MiB; it starts its
 * window again at each chunk). Prints the compressed bytes in all, a chunk
 * that does not shrink counted as stored.
 *   wimlib-lzx-size FILE [LEVEL] */
#include <wimlib.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const size_t chunk = 1u << 21;
    const unsigned level = argc > 2 ? (unsigned)atoi(argv[2]) : 100;
    FILE* file = fopen(argv[1], "rb");
    struct wimlib_compressor* compressor = NULL;
    unsigned char* in = malloc(chunk);
    unsigned char* out = malloc(chunk);
    if (file == NULL || in == NULL || out == NULL ||
        wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZX, chunk, level, &compressor) != 0) {
        return 1;
    }
    unsigned long long total = 0;
    size_t n;
    while ((n = fread(in, 1, chunk, file)) > 0) {
        const size_t packed = wimlib_compress(in, n, out, n - 1, compressor);
        total += packed != 0 ? packed : n;
    }
    printf("%llu\n", total);
    wimlib_free_compressor(compressor);
    return 0;
}

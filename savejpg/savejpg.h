/* SaveJPG: converts one Windows bitmap (.bmp) file to a JPEG file.
 *
 * The library exports a C entry point, meant to be loaded at run time
 * (dlopen / LoadLibrary) and called once per file:
 *
 *   int16_t SavetoJPEG(char* source, char* dest, uint8_t quality,
 *                      int16_t progressive);
 *
 *   source       NUL-terminated path of the bitmap to read, in the system's
 *                narrow encoding: UTF-8, or the ANSI code page on Windows.
 *   dest         NUL-terminated path of the JPEG to write, the same way.
 *   quality      1..100; 0 is taken as 1 and anything above 100 as 100.
 *                Below 90 the colour planes are subsampled 4:2:0, from 90 on
 *                they are kept at full resolution (4:4:4).
 *   progressive  0 writes a baseline JPEG with optimised Huffman tables,
 *                any other value (normally -1) a progressive JPEG.
 *
 * The JPEG is written to a temporary file in the destination's folder and
 * renamed over dest only once it is complete, so dest is either the new JPEG
 * or left exactly as it was; a replaced dest's permission bits go to the new
 * file. A destination that is the source file itself (same path, or the same
 * file through another name) is refused. A source that is not a regular file
 * (a FIFO, a device) is refused at once, and one that another program cuts
 * short or rewrites during the conversion fails like a truncated bitmap.
 *
 * No temporary file is left behind on any failure, nor when the program is
 * stopped by SIGINT, SIGTERM or SIGHUP: where the file system allows (Linux
 * O_TMPFILE) the temporary file has no name until it is complete; elsewhere
 * those signals, where their action is still the default one, get a handler
 * that removes the temporary files of the conversions under way and then
 * ends the program by the same signal. Conversions may run on several
 * threads at once.
 *
 * The encoder keeps at most what libjpeg keeps for fitted Huffman tables:
 * the image's whole coefficients, 2 bytes a pixel for grey, 3 for colour
 * below quality 90 and 6 from 90 on (at least 256 KiB), besides a few rows,
 * an RLE bitmap's coded pixels and its colour profile. It codes the image
 * once into memory and makes the JPEG from that (a fraction of the bitmap's
 * size for photographs, with the symbols of one scan and for a progressive
 * JPEG the coefficients that are not 0); where that would keep more (noise
 * at a high quality), libjpeg codes it from the rows again in its own way.
 * The JPEG is the same either way. An image whose whole coefficients would
 * need more than half of the machine's physical memory (whatever the size
 * of the bitmap file) is refused before any of it is taken.
 *
 * RLE rows may be coded with their 4-byte padding, as some writers do: runs
 * may go on to the width rounded up to 4 pixels (RLE8) or 8 pixels (RLE4);
 * the pixels past the width are dropped.
 *
 * A large image may be coded on several threads at once: it is cut into
 * bands of whole rows of blocks, each band coded on a thread of its own, and
 * the bands joined into the one JPEG that one thread writes, byte for byte.
 * How many threads a call may use is set for the calling thread by
 *
 *   void SaveJPGUseThreads(uint16_t threads);
 *
 * which holds for every later call made on that thread: 0 and 1 code on the
 * calling thread alone (as before it is called), more allow that many
 * threads in all, up to 64. Images too small to gain from it are not cut.
 *
 * Returns SAVEJPG_OK (0) when dest was written, otherwise one of the values
 * below. Values from 100 on say why the bitmap was refused; nothing is
 * written for them.
 *
 * SaveJPG.DLL on Windows exports a second entry point, the same in all but
 * its paths, which are UTF-16:
 *
 *   int16_t SavetoJPEGW(const wchar_t* source, const wchar_t* dest,
 *                       uint8_t quality, int16_t progressive);
 *
 * It reaches every name Windows can hold, where SavetoJPEG reaches only the
 * names that the ANSI code page holds (on a Japanese system no Korean, no
 * emoji, no "ö"). Neither entry point writes into the path buffers. A path
 * longer than 260 characters is opened where the calling program declares
 * itself long-path aware and the system allows long paths.
 */
#ifndef SAVEJPG_SAVEJPG_H
#define SAVEJPG_SAVEJPG_H

#include <stdint.h>
#if defined(_WIN32)
#include <wchar.h>
#endif

#if defined(_WIN32)
#define SAVEJPG_API __declspec(dllexport)
#else
#define SAVEJPG_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum SaveJpgResult {
  SAVEJPG_OK = 0,
  /* Calling and file errors. */
  SAVEJPG_ERR_ARGUMENT = 1,       /* source or dest is null or empty text */
  SAVEJPG_ERR_SAME_FILE = 2,      /* dest is the source file */
  SAVEJPG_ERR_OPEN_SOURCE = 3,    /* source missing, unreadable or not a file */
  SAVEJPG_ERR_CREATE_OUTPUT = 4,  /* temporary file in dest's folder not created */
  SAVEJPG_ERR_WRITE_OUTPUT = 5,   /* writing or closing the temporary file failed */
  SAVEJPG_ERR_REPLACE_OUTPUT = 6, /* renaming the temporary file to dest failed */
  SAVEJPG_ERR_ENCODER = 7,        /* the JPEG encoder reported an error */
  SAVEJPG_ERR_OUT_OF_MEMORY = 8,  /* the image needs more than half the machine's memory */
  SAVEJPG_ERR_INTERNAL = 9,       /* any other unexpected failure */

  /* The bitmap was refused. */
  SAVEJPG_BMP_TRUNCATED = 100,               /* file ends inside the headers */
  SAVEJPG_BMP_BAD_MAGIC = 101,               /* does not start with "BM" */
  SAVEJPG_BMP_BAD_HEADER_SIZE = 102,         /* unknown info header size */
  SAVEJPG_BMP_BAD_PLANES = 103,              /* planes is not 1 */
  SAVEJPG_BMP_BAD_DIMENSIONS = 104,          /* width <= 0, height 0 or INT32_MIN */
  SAVEJPG_BMP_TOO_LARGE = 105,               /* a side above 65500 pixels */
  SAVEJPG_BMP_BAD_BIT_COUNT = 106,           /* bits per pixel not 1,4,8,16,24,32 */
  SAVEJPG_BMP_BAD_COMPRESSION = 107,         /* unknown compression value */
  SAVEJPG_BMP_UNSUPPORTED_COMPRESSION = 108, /* embedded JPEG/PNG, OS/2 Huffman or RLE24 */
  SAVEJPG_BMP_COMPRESSION_MISMATCH = 109,    /* compression not valid for the bit count */
  SAVEJPG_BMP_TOP_DOWN_RLE = 110,            /* RLE bitmap with a negative height */
  SAVEJPG_BMP_BAD_MASKS = 111,               /* colour masks zero, overlapping, split or too wide */
  SAVEJPG_BMP_BAD_PALETTE_SIZE = 112,        /* more colours than the bit count allows, or none */
  SAVEJPG_BMP_PALETTE_TRUNCATED = 113,       /* colour table runs past the end of the file */
  SAVEJPG_BMP_BAD_PIXEL_OFFSET = 114,  /* pixel data offset inside the headers or past the file */
  SAVEJPG_BMP_PIXELS_TRUNCATED = 115,  /* the file holds less pixel data than the image needs,
                                          also when it is cut short during the conversion */
  SAVEJPG_BMP_BAD_PALETTE_INDEX = 116, /* a pixel names a colour past the colour table */
  SAVEJPG_BMP_RLE_PAST_ROW = 117,      /* an RLE run passes the row's padding, a move its end */
  SAVEJPG_BMP_RLE_PAST_IMAGE = 118,    /* an RLE run or move passes the last row */
  SAVEJPG_BMP_RLE_TRUNCATED = 119,     /* RLE data ends before the end-of-bitmap code */
  SAVEJPG_BMP_BAD_PROFILE = 120        /* embedded colour profile lies outside the file */
};

SAVEJPG_API int16_t SavetoJPEG(char* source, char* dest, uint8_t quality, int16_t progressive);
SAVEJPG_API void SaveJPGUseThreads(uint16_t threads);

#if defined(_WIN32)
SAVEJPG_API int16_t SavetoJPEGW(const wchar_t* source, const wchar_t* dest, uint8_t quality,
                                int16_t progressive);
#endif

#ifdef __cplusplus
}
#endif

#endif /* SAVEJPG_SAVEJPG_H */

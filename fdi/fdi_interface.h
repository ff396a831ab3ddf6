/*
 * The File Decompression Interface (FDI) as documented for the Windows cabinet
 * library: the records, callback types, notification and error codes, and the
 * four entry points FDICreate, FDIIsCabinet, FDICopy and FDIDestroy.
 *
 * The same declarations serve three callers:
 *   - our own decompressor (libveltra_fdi, host and i686) implements them;
 *   - the i686 DLL exports the four entry points, undecorated and cdecl;
 *   - the setup stub calls the system's cabinet library through them, taking
 *     the entry points with GetProcAddress (see the PFNFDI* pointer types).
 * On 32-bit Windows the record layouts are therefore those of the system
 * library byte for byte; the static assertions at the end hold them there.
 *
 * The header is self-contained: it needs no <windows.h> and declares no
 * Windows type names, so it can sit beside <windows.h> in the stub. It must
 * not be mixed with the toolchain's own FDI header, which declares the same
 * names.
 */
#pragma once

#if defined(INCLUDED_FDI)
#error "fdi_interface.h and the toolchain's FDI header declare the same names; include only one"
#endif

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define FDIAPI __cdecl
#else
#define FDIAPI
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
#pragma pack(push, 4)
#endif

/* Error codes, found in ERF.erfOper after a call fails. */
typedef enum {
  FDIERROR_NONE = 0,
  FDIERROR_CABINET_NOT_FOUND = 1,
  FDIERROR_NOT_A_CABINET = 2,
  FDIERROR_UNKNOWN_CABINET_VERSION = 3,
  FDIERROR_CORRUPT_CABINET = 4,
  FDIERROR_ALLOC_FAIL = 5,
  FDIERROR_BAD_COMPR_TYPE = 6,
  FDIERROR_MDI_FAIL = 7,
  FDIERROR_TARGET_FILE = 8,
  FDIERROR_RESERVE_MISMATCH = 9,
  FDIERROR_WRONG_CABINET = 10,
  FDIERROR_USER_ABORT = 11,
  FDIERROR_EOF = 12
} FDIERROR;

/* The error record handed to FDICreate; FDI fills it whenever a call fails. */
typedef struct {
  int erfOper; /* an FDIERROR code */
  int erfType; /* extra detail: the cabinet's version for UNKNOWN_CABINET_VERSION */
  int fError;  /* BOOL: TRUE once an error was stored */
} ERF, *PERF;

#define CB_MAX_CHUNK 32768U
#define CB_MAX_DISK 0x7fffffffL
#define CB_MAX_FILENAME 256
#define CB_MAX_CABINET_NAME 256
#define CB_MAX_CAB_PATH 256
#define CB_MAX_DISK_NAME 256

/* Cabinet attribute bits beyond the FAT ones. */
#ifndef _A_NAME_IS_UTF
#define _A_NAME_IS_UTF 0x80
#endif
#ifndef _A_EXEC
#define _A_EXEC 0x40
#endif

/* cpuType values for FDICreate; this implementation ignores the value. */
#define cpuUNKNOWN (-1)
#define cpu80286 (0)
#define cpu80386 (1)

typedef void* HFDI;

typedef struct {
  long cbCabinet;          /* total length of the cabinet file */
  unsigned short cFolders; /* folders in the cabinet */
  unsigned short cFiles;   /* file entries in the cabinet */
  unsigned short setID;    /* cabinet set ID */
  unsigned short iCabinet; /* cabinet number in the set, 0-based */
  int fReserve;            /* BOOL: reserved areas present */
  int hasprev;             /* BOOL: chained to a previous cabinet */
  int hasnext;             /* BOOL: chained to a next cabinet */
} FDICABINETINFO, *PFDICABINETINFO;

typedef enum { fdidtNEW_CABINET = 0, fdidtNEW_FOLDER = 1, fdidtDECRYPT = 2 } FDIDECRYPTTYPE;

typedef struct {
  FDIDECRYPTTYPE fdidt;
  void* pvUser;
  union {
    struct {
      void* pHeaderReserve;
      unsigned short cbHeaderReserve;
      unsigned short setID;
      int iCabinet;
    } cabinet;
    struct {
      void* pFolderReserve;
      unsigned short cbFolderReserve;
      unsigned short iFolder;
    } folder;
    struct {
      void* pDataReserve;
      unsigned short cbDataReserve;
      void* pbData;
      unsigned short cbData;
      int fSplit;
      unsigned short cbPartial;
    } decrypt;
  };
} FDIDECRYPT, *PFDIDECRYPT;

/* Memory and file callbacks, modelled on malloc/free and _open/_read/
   _write/_close/_lseek. File handles are pointer-sized integers; -1 fails. */
typedef void*(FDIAPI* PFNALLOC)(unsigned long cb);
typedef void(FDIAPI* PFNFREE)(void* pv);
typedef intptr_t(FDIAPI* PFNOPEN)(char* pszFile, int oflag, int pmode);
typedef unsigned int(FDIAPI* PFNREAD)(intptr_t hf, void* pv, unsigned int cb);
typedef unsigned int(FDIAPI* PFNWRITE)(intptr_t hf, void* pv, unsigned int cb);
typedef int(FDIAPI* PFNCLOSE)(intptr_t hf);
typedef long(FDIAPI* PFNSEEK)(intptr_t hf, long dist, int seektype);
typedef int(FDIAPI* PFNFDIDECRYPT)(PFDIDECRYPT pfdid);

typedef struct {
  long cb;    /* COPY_FILE: file size; CLOSE_FILE_INFO: 1 = run after extraction;
                 ENUMERATE: position of the next file entry */
  char* psz1; /* a name, by notification type */
  char* psz2;
  char* psz3;  /* NEXT_CABINET: 256-byte cabinet path buffer the callback may rewrite */
  void* pv;    /* the pvUser given to FDICopy */
  intptr_t hf; /* CLOSE_FILE_INFO: the handle returned at COPY_FILE */
  unsigned short date;
  unsigned short time;
  unsigned short attribs;
  unsigned short setID;
  unsigned short iCabinet;
  unsigned short iFolder; /* ENUMERATE: file entries remaining */
  FDIERROR fdie;          /* NEXT_CABINET: why the previous volume was refused */
} FDINOTIFICATION, *PFDINOTIFICATION;

typedef enum {
  fdintCABINET_INFO = 0,    /* general information about a cabinet just opened */
  fdintPARTIAL_FILE = 1,    /* a file continued from a previous cabinet */
  fdintCOPY_FILE = 2,       /* a file that begins here: return a handle, 0 skips, -1 aborts */
  fdintCLOSE_FILE_INFO = 3, /* its data is written: close it, set date, time, attributes */
  fdintNEXT_CABINET = 4,    /* the file continues in the next cabinet of the set */
  fdintENUMERATE = 5        /* start and end of the walk over the file entries */
} FDINOTIFICATIONTYPE;

typedef intptr_t(FDIAPI* PFNFDINOTIFY)(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);

#if defined(_WIN32) && !defined(_WIN64)
#pragma pack(push, 1)
#endif
typedef struct {
  char ach[2]; /* "*" */
  long cbFile;
} FDISPILLFILE, *PFDISPILLFILE;
#if defined(_WIN32) && !defined(_WIN64)
#pragma pack(pop)
#endif

/* Makes a decompression context; NULL on failure with perf filled in. */
HFDI FDIAPI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
                      PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, PERF perf);

/* TRUE when the stream hf, positioned at the cabinet's first byte, holds a
   cabinet; pfdici then describes it. FALSE otherwise, with the reason in the
   error record: NOT_A_CABINET, UNKNOWN_CABINET_VERSION or CORRUPT_CABINET. */
int FDIAPI FDIIsCabinet(HFDI hfdi, intptr_t hf, PFDICABINETINFO pfdici);

/* Extracts the files that begin in pszCabPath + pszCabinet, following the set
   into later cabinets for a file that continues there. TRUE on success. */
int FDIAPI FDICopy(HFDI hfdi, char* pszCabinet, char* pszCabPath, int flags, PFNFDINOTIFY pfnfdin,
                   PFNFDIDECRYPT pfnfdid, void* pvUser);

/* Releases a context. TRUE on success. */
int FDIAPI FDIDestroy(HFDI hfdi);

/* Pointer types for taking the entry points from a library at run time. */
typedef HFDI(FDIAPI* PFNFDICREATE)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int,
                                   PERF);
typedef int(FDIAPI* PFNFDIISCABINET)(HFDI, intptr_t, PFDICABINETINFO);
typedef int(FDIAPI* PFNFDICOPY)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
typedef int(FDIAPI* PFNFDIDESTROY)(HFDI);

#if defined(_WIN32) && !defined(_WIN64)
#pragma pack(pop)
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The i686 layouts of the system library, byte for byte. */
#if defined(__i386__) || defined(_M_IX86)
#ifdef __cplusplus
#define VELTRA_FDI_ASSERT(c, m) static_assert(c, m)
#else
#define VELTRA_FDI_ASSERT(c, m) _Static_assert(c, m)
#endif
VELTRA_FDI_ASSERT(sizeof(ERF) == 12, "ERF layout");
VELTRA_FDI_ASSERT(sizeof(FDICABINETINFO) == 24, "FDICABINETINFO layout");
VELTRA_FDI_ASSERT(offsetof(FDICABINETINFO, cFolders) == 4, "FDICABINETINFO.cFolders");
VELTRA_FDI_ASSERT(offsetof(FDICABINETINFO, iCabinet) == 10, "FDICABINETINFO.iCabinet");
VELTRA_FDI_ASSERT(offsetof(FDICABINETINFO, fReserve) == 12, "FDICABINETINFO.fReserve");
VELTRA_FDI_ASSERT(offsetof(FDICABINETINFO, hasnext) == 20, "FDICABINETINFO.hasnext");
VELTRA_FDI_ASSERT(sizeof(FDINOTIFICATION) == 40, "FDINOTIFICATION layout");
VELTRA_FDI_ASSERT(offsetof(FDINOTIFICATION, psz1) == 4, "FDINOTIFICATION.psz1");
VELTRA_FDI_ASSERT(offsetof(FDINOTIFICATION, psz3) == 12, "FDINOTIFICATION.psz3");
VELTRA_FDI_ASSERT(offsetof(FDINOTIFICATION, hf) == 20, "FDINOTIFICATION.hf");
VELTRA_FDI_ASSERT(offsetof(FDINOTIFICATION, date) == 24, "FDINOTIFICATION.date");
VELTRA_FDI_ASSERT(offsetof(FDINOTIFICATION, attribs) == 28, "FDINOTIFICATION.attribs");
VELTRA_FDI_ASSERT(offsetof(FDINOTIFICATION, iFolder) == 34, "FDINOTIFICATION.iFolder");
VELTRA_FDI_ASSERT(offsetof(FDINOTIFICATION, fdie) == 36, "FDINOTIFICATION.fdie");
VELTRA_FDI_ASSERT(sizeof(FDIDECRYPT) == 32, "FDIDECRYPT layout");
VELTRA_FDI_ASSERT(sizeof(FDISPILLFILE) == 6, "FDISPILLFILE layout");
VELTRA_FDI_ASSERT(sizeof(FDIERROR) == 4 && sizeof(FDINOTIFICATIONTYPE) == 4, "enum size");
#undef VELTRA_FDI_ASSERT
#endif

/*
 * brokerapi.h - the message broker's parser plug-in interface, as a parser plug-in uses it.
 *
 * Contract. Every broker function takes first a pointer to an int return code and sets it: 0 on
 * success, one of the CCI_* codes below otherwise (a null or stale handle, a buffer too small, a
 * conversion that failed). A function that fails returns null, 0 or an empty text; it never
 * crashes on a bad handle. The broker owns factories, parsers, elements and bit streams; a plug-in
 * holds their handles only while the broker lends them (for one message, or one callback).
 *
 * Texts. Element names, character values and the message source of an exception are 16-bit
 * characters (CciChar), zero-terminated where no count is given. Code pages are coded character
 * set ids (437, 819, 1252, 37, 500, 1047, 1208, ...).
 *
 * Callbacks. A plug-in defines a parser class with a table of 15 callback slots
 * (CpiFunctionTable); the broker calls them for every parser instance of the class. A callback
 * may end by cciThrowException, which unwinds through the plug-in back to the broker.
 *
 * Plain C declarations: the broker library implements them with C linkage.
 */
#ifndef CORVALE_BROKERAPI_H
#define CORVALE_BROKERAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
typedef char16_t CciChar;
#define CCI_NORETURN [[noreturn]]
#else
typedef uint_least16_t CciChar;
#define CCI_NORETURN _Noreturn
#endif

#if defined(__GNUC__)
#define CCI_EXPORT __attribute__((visibility("default")))
#else
#define CCI_EXPORT
#endif

/* ---- Return codes ------------------------------------------------------------------------ */
#define CCI_SUCCESS 0
#define CCI_INV_FACTORY_OBJECT 1   /* null or unknown factory handle */
#define CCI_INV_PARSER_OBJECT 2    /* null or unknown parser handle */
#define CCI_INV_ELEMENT_OBJECT 3   /* null or unknown element handle */
#define CCI_INV_DATA_POINTER 4     /* a required pointer argument is null */
#define CCI_INV_DATA_BUFLEN 5      /* a buffer is too small; what fits was copied */
#define CCI_INV_VALUE_TYPE 6       /* the element holds no value of the type asked for */
#define CCI_CONVERSION_FAILED 7    /* unknown code page, or bytes that are not text in it */
#define CCI_INV_ARGUMENT 8         /* any other argument out of range */
#define CCI_NO_MESSAGE 9           /* the parser has no message attached */
#define CCI_PARSE_LOST 10          /* the parser has moved on: that part of a message is gone */
#define CCI_FAILURE 11             /* an internal failure of the broker */
#define CCI_PARSER_EXCEPTION 12    /* a parser callback raised an exception: the message failed */

/* ---- Element types ----------------------------------------------------------------------- */
#define CCI_ELEMENT_TYPE_NAME 0x01000000       /* a folder: a name and children */
#define CCI_ELEMENT_TYPE_VALUE 0x02000000      /* a value without a name */
#define CCI_ELEMENT_TYPE_NAME_VALUE 0x03000000 /* a named value */

/* ---- Value types ------------------------------------------------------------------------- */
#define CCI_ELEMENT_TYPE_UNKNOWN 0 /* no value */
#define CCI_ELEMENT_TYPE_BOOLEAN 1
#define CCI_ELEMENT_TYPE_INTEGER 2 /* signed 64-bit */
#define CCI_ELEMENT_TYPE_DECIMAL 3 /* real, double */
#define CCI_ELEMENT_TYPE_UTF16 5   /* character */
#define CCI_ELEMENT_TYPE_TIME 6
#define CCI_ELEMENT_TYPE_GMTTIME 7
#define CCI_ELEMENT_TYPE_DATE 8
#define CCI_ELEMENT_TYPE_TIMESTAMP 9
#define CCI_ELEMENT_TYPE_GMTTIMESTAMP 10
#define CCI_ELEMENT_TYPE_BYTEARRAY 12

/* Exception and log kinds used by the plug-in. */
#define CCI_EXCEPTION_TYPE_PARSER 3
#define CCI_LOG_TYPE_ERROR 0

typedef int CCI_BOOL;

typedef struct CciTime {
  int32_t hour;
  int32_t minute;
  float seconds;
} CciTime;

typedef struct CciDate {
  int32_t year;
  int32_t month;
  int32_t day;
} CciDate;

typedef struct CciTimestamp {
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t hour;
  int32_t minute;
  float seconds;
} CciTimestamp;

typedef struct CciByteArray {
  uint8_t* pointer; /* first byte; owned by whoever set the value (the element copies on set) */
  int32_t size;     /* number of bytes */
} CciByteArray;

/* Opaque handles. */
typedef struct CciFactory CciFactory;
typedef struct CciParser CciParser;
typedef struct CciElement CciElement;
typedef void CciContext; /* the plug-in's own per-instance record */

/* ---- The callback table ------------------------------------------------------------------ */
typedef CciContext* (*CpiCreateContextFn)(CciParser* parser);
typedef void (*CpiDeleteContextFn)(CciParser* parser, CciContext* context);
typedef int (*CpiParseBufferFn)(CciParser* parser, CciContext* context, int offset);
typedef void (*CpiParseNavigationFn)(CciParser* parser, CciContext* context, CciElement* element);
typedef int (*CpiWriteBufferFn)(CciParser* parser, CciContext* context);
typedef void (*CpiUnusedFn)(void);
typedef unsigned char (*CpiAlwaysTrueFn)(void);

/* 15 slots, in the broker's order. Slots 9 to 14 are reserved and must be null. */
typedef struct CpiFunctionTable {
  CpiCreateContextFn cpiCreateContext;        /* slot 1 */
  CpiDeleteContextFn cpiDeleteContext;        /* slot 2 */
  CpiParseBufferFn cpiParseBuffer;            /* slot 3 */
  CpiParseNavigationFn cpiParseFirstChild;    /* slot 4 */
  CpiParseNavigationFn cpiParseLastChild;     /* slot 5 */
  CpiParseNavigationFn cpiParseLeftSibling;   /* slot 6 */
  CpiParseNavigationFn cpiParseRightSibling;  /* slot 7 */
  CpiWriteBufferFn cpiWriteBuffer;            /* slot 8 */
  CpiUnusedFn reserved[6];                    /* slots 9 to 14 */
  CpiAlwaysTrueFn cpiAlwaysTrue;              /* slot 15 */
} CpiFunctionTable;

/* The one function a parser plug-in exports: called once after loading, before any callback. */
typedef CciFactory* (*BipGetParserFactoryFn)(void);
#define BIP_GET_PARSER_FACTORY "bipGetParserFactory"

/* ---- Registration ------------------------------------------------------------------------ */
CCI_EXPORT CciFactory* cpiCreateParserFactory(int* rc, const CciChar* name);
/* The table is kept by address: it must live as long as the plug-in is loaded. */
CCI_EXPORT void cpiDefineParserClass(int* rc, CciFactory* factory, const CciChar* name,
                                     const CpiFunctionTable* table);

/* ---- Bit streams ------------------------------------------------------------------------- */
/* The input stream of the message attached to the parser (cpiBufferSize, cpiBufferPointer) and
 * the output stream that cpiAppendToBuffer fills during a write; during a write cpiBufferSize
 * reports the output stream's size. */
CCI_EXPORT int cpiBufferSize(int* rc, CciParser* parser);
CCI_EXPORT const uint8_t* cpiBufferPointer(int* rc, CciParser* parser);
/* Returns the number of bytes appended. */
CCI_EXPORT int cpiAppendToBuffer(int* rc, CciParser* parser, const uint8_t* bytes, int length);

/* ---- Navigation -------------------------------------------------------------------------- */
/* cpi* navigation is raw: it answers from the tree as it stands. cni* navigation first has the
 * owning parser's callbacks complete the element in the direction asked. */
CCI_EXPORT CciElement* cpiRootElement(int* rc, CciParser* parser);
CCI_EXPORT CciElement* cpiParent(int* rc, CciElement* element);
CCI_EXPORT CciElement* cpiFirstChild(int* rc, CciElement* element);
CCI_EXPORT CciElement* cpiLastChild(int* rc, CciElement* element);
CCI_EXPORT CciElement* cpiNextSibling(int* rc, CciElement* element);
CCI_EXPORT CciElement* cpiPreviousSibling(int* rc, CciElement* element);
CCI_EXPORT CciElement* cniFirstChild(int* rc, CciElement* element);
CCI_EXPORT CciElement* cniLastChild(int* rc, CciElement* element);
CCI_EXPORT CciElement* cniNextSibling(int* rc, CciElement* element);
CCI_EXPORT CciElement* cniPreviousSibling(int* rc, CciElement* element);

/* ---- Inspection -------------------------------------------------------------------------- */
/* Copies at most size - 1 characters and a zero; returns the name's full length in characters
 * (CCI_INV_DATA_BUFLEN when it did not fit). */
CCI_EXPORT int cpiElementName(int* rc, CciElement* element, CciChar* buffer, int size);
CCI_EXPORT int cpiElementType(int* rc, CciElement* element);
CCI_EXPORT int cniElementValueType(int* rc, CciElement* element);
CCI_EXPORT int cpiElementCompletePrevious(int* rc, CciElement* element);
CCI_EXPORT int cpiElementCompleteNext(int* rc, CciElement* element);

/* ---- Values ------------------------------------------------------------------------------ */
/* A getter asked for a type the element does not hold sets CCI_INV_VALUE_TYPE. */
CCI_EXPORT CCI_BOOL cpiElementBooleanValue(int* rc, CciElement* element);
CCI_EXPORT int64_t cpiElementIntegerValue(int* rc, CciElement* element);
CCI_EXPORT double cpiElementRealValue(int* rc, CciElement* element);
CCI_EXPORT CciDate cpiElementDateValue(int* rc, CciElement* element);
CCI_EXPORT CciTime cpiElementTimeValue(int* rc, CciElement* element);
CCI_EXPORT CciTimestamp cpiElementTimestampValue(int* rc, CciElement* element);
/* Copies at most size - 1 characters and a zero; returns the value's full length in characters
 * (CCI_INV_DATA_BUFLEN when it did not fit). */
CCI_EXPORT int cpiElementCharacterValue(int* rc, CciElement* element, CciChar* buffer, int size);
/* Fills *value with a pointer to the element's bytes (valid while the message lives) and their
 * count; returns the count. */
CCI_EXPORT int cpiElementByteArrayValue(int* rc, CciElement* element, CciByteArray* value);

/* ---- Building ---------------------------------------------------------------------------- */
/* A new detached element owned by the parser's current message. */
CCI_EXPORT CciElement* cpiCreateAndInitializeElement(int* rc, CciParser* parser, int type,
                                                     const CciChar* name, int completePrevious,
                                                     int completeNext);
CCI_EXPORT void cpiAddAsFirstChild(int* rc, CciElement* parent, CciElement* child);
CCI_EXPORT void cpiAddAsLastChild(int* rc, CciElement* parent, CciElement* child);
CCI_EXPORT void cpiAddAfter(int* rc, CciElement* element, CciElement* newElement);
/* Both copy count characters into the element's message. */
CCI_EXPORT void cpiSetCharacterValueFromBuffer(int* rc, CciElement* element,
                                               const CciChar* characters, int count);
CCI_EXPORT void cpiSetElementCharacterValue(int* rc, CciElement* element,
                                            const CciChar* characters, int count);
/* Copies the bytes into the element's message. */
CCI_EXPORT void cpiSetElementByteArrayValue(int* rc, CciElement* element,
                                            const CciByteArray* value);
CCI_EXPORT void cpiSetElementBooleanValue(int* rc, CciElement* element, CCI_BOOL value);
CCI_EXPORT void cpiSetElementIntegerValue(int* rc, CciElement* element, int64_t value);
CCI_EXPORT void cpiSetElementRealValue(int* rc, CciElement* element, double value);
CCI_EXPORT void cpiSetElementDateValue(int* rc, CciElement* element, const CciDate* value);
/* valueType CCI_ELEMENT_TYPE_TIME or CCI_ELEMENT_TYPE_GMTTIME. */
CCI_EXPORT void cpiSetElementTimeValue(int* rc, CciElement* element, const CciTime* value,
                                       int valueType);
/* valueType CCI_ELEMENT_TYPE_TIMESTAMP or CCI_ELEMENT_TYPE_GMTTIMESTAMP. */
CCI_EXPORT void cpiSetElementTimestampValue(int* rc, CciElement* element,
                                            const CciTimestamp* value, int valueType);
CCI_EXPORT void cpiSetElementCompletePrevious(int* rc, CciElement* element, int complete);
CCI_EXPORT void cpiSetElementCompleteNext(int* rc, CciElement* element, int complete);

/* ---- Common services --------------------------------------------------------------------- */
/* Code page conversion. Converts at most count units and stops after converting a zero unit
 * (which is written too). Returns the number of units written before any zero. A single-byte
 * code page gives one character per byte; UTF-8 (1208) may give fewer characters than bytes.
 * The destination must hold as many units as the conversion writes (count units always
 * suffice for bytes-to-characters; characters-to-bytes needs up to 3 x count in UTF-8). */
CCI_EXPORT int cciMbsToUcs(int* rc, const char* bytes, CciChar* characters, int count,
                           int codePage);
CCI_EXPORT int cciUcsToMbs(int* rc, const CciChar* characters, char* bytes, int count,
                           int codePage);

/* Records an event in the broker's log. Inserts: zero or more single-byte texts, then a null. */
CCI_EXPORT void cciLog(int* rc, int type, const char* sourceFile, int line, const char* function,
                       const CciChar* messageSource, unsigned int messageNumber,
                       const char* traceText, ...);

/* Raises a broker exception that ends the current callback; never returns. Inserts: zero or more
 * single-byte texts, then a null. */
CCI_NORETURN CCI_EXPORT void cciThrowException(int* rc, int type, const char* sourceFile,
                                               int line, const char* function,
                                               const CciChar* messageSource,
                                               unsigned int messageNumber, const char* traceText,
                                               ...);

#ifdef __cplusplus
}
#endif

#endif /* CORVALE_BROKERAPI_H */

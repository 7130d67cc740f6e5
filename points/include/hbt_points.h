/* The driver's values as a flat list of points with a change feed, for the network services
 * (OPC UA, MQTT) and for programs in other languages: a plain C interface of batches, never one
 * call per value. A session is a client of the driver's image like any host: it keeps the
 * poller alive and its records polled for as long as it is open.
 *
 * Threading: a session is used by one thread at a time (the caller serialises); separate
 * sessions are independent. Strings a call hands out (names, texts) stay valid until the next
 * call of hbt_points_list on the session (lists) or the next hbt_points_read/changes call
 * (value texts), or until the session closes.
 *
 * Compatibility: new functions and new fields at the end of structs only; a struct the caller
 * fills carries its own size in its first member. */
#ifndef HBT_POINTS_H
#define HBT_POINTS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define HBT_POINTS_EXPORT __attribute__((visibility("default")))
#else
#define HBT_POINTS_EXPORT
#endif

#define HBT_POINTS_API_VERSION 1

typedef struct hbt_points hbt_points;

/* Results of every call that returns int32_t. */
enum hbt_points_result {
  HBT_POINTS_OK = 0,
  HBT_POINTS_E_ARGUMENT = -1,  /* a null pointer, an unknown id, a struct of the wrong size */
  HBT_POINTS_E_NO_DRIVER = -2, /* the host library or the driver's image is not there */
  HBT_POINTS_E_STALE = -3,     /* the configuration changed since the last list: list again */
  HBT_POINTS_E_MEMORY = -4,
  HBT_POINTS_E_TAGS = -5       /* the tag file is unreadable or has a bad line: see last_error */
};

/* The type of a point's value, from its poll record's data type (or from its tag). */
enum hbt_point_type {
  HBT_POINT_BOOL = 1,   /* Digital records: one point per bit */
  HBT_POINT_INT16 = 2,  /* Signed */
  HBT_POINT_UINT16 = 3, /* Unsigned */
  HBT_POINT_INT32 = 4,  /* Long Signed */
  HBT_POINT_UINT32 = 5, /* Long Unsigned */
  HBT_POINT_FLOAT = 6,  /* Float: two registers */
  HBT_POINT_DOUBLE = 7, /* a conditioned tag, in engineering units */
  HBT_POINT_STRING = 8  /* ASCII: one text per record, or per `$N` tag */
};

/* One quality mapping for every service. */
enum hbt_point_quality {
  HBT_QUALITY_GOOD = 0,
  HBT_QUALITY_COMM_FAILURE = 1, /* record status 4293: the last value is kept */
  HBT_QUALITY_EXPIRED = 2,      /* 4296: access time expired, last value (uncertain) */
  HBT_QUALITY_NOT_POLLED = 3,   /* 4297 */
  HBT_QUALITY_STALLED = 4,      /* the poller is stopped, gone or its watchdog does not move */
  HBT_QUALITY_CONFIG = 5,       /* the point no longer binds (removed by a reload) */
  HBT_QUALITY_OTHER = 6         /* any other host status: see status */
};

/* Results of a write, one per value. */
enum hbt_write_result {
  HBT_WRITE_OK = 0,
  HBT_WRITE_CLAMPED = 1,       /* written, but saturated or cut to fit */
  HBT_WRITE_TYPE_MISMATCH = 2, /* a value of a type the point cannot take */
  HBT_WRITE_OUT_OF_RANGE = 3,  /* not a number, or outside what the point can hold at all */
  HBT_WRITE_NOT_WRITABLE = 4,
  HBT_WRITE_COMM_FAILURE = 5,  /* the driver refused: poller gone, record failed */
  HBT_WRITE_UNKNOWN_POINT = 6
};

typedef struct hbt_points_options {
  uint32_t size;              /* sizeof(hbt_points_options) */
  const char* host_library;   /* path of HBTSTSR.so; NULL: the one beside this library */
  const char* tag_file;       /* extra item IDs with conditioning or suffixes; NULL: none */
  uint32_t update_ms;         /* how often the session looks at the image; 0: 50 ms */
  uint32_t stall_ms;          /* a watchdog standing still this long is a stalled poller; 0: 1000 ms */
} hbt_points_options;

typedef struct hbt_device_info {
  uint32_t id;                /* index in this generation's device list */
  uint32_t channel;           /* 1..16 */
  const char* name;           /* "QPLC1" */
  const char* description;    /* the PLC's description; its name when it has none */
  uint32_t first_record;
  uint32_t record_count;
} hbt_device_info;

typedef struct hbt_record_info {
  uint32_t id;                /* index in this generation's record list */
  uint32_t device;
  const char* range;          /* "D:0 - D:19" */
  uint16_t data_type;         /* the configuration's code: 0 ASCII, 1 Signed, ... */
  uint16_t length;            /* registers or points */
  int32_t poll_time_cs;
  uint32_t first_point;
  uint32_t point_count;
} hbt_record_info;

typedef struct hbt_point_info {
  uint32_t id;                /* index in this generation's point list */
  uint32_t device;
  uint32_t record;            /* UINT32_MAX for a tag that is not one of a record's points */
  uint8_t type;               /* hbt_point_type */
  uint8_t writable;
  uint8_t analog;             /* a conditioned tag: eu_low, eu_high, eu_units hold */
  uint8_t reserved;
  const char* item_id;        /* the host item ID: "QPLC1:D:100", "QPLC1:D:100|LIN,0,100,,degC" */
  const char* name;           /* the item ID without "DEVICE:": "D:100" */
  double eu_low;
  double eu_high;
  const char* eu_units;       /* "" when none */
  double deadband;            /* absolute, in the point's units; 0: every change */
  uint32_t text_length;       /* characters of a string point */
} hbt_point_info;

typedef struct hbt_point_value {
  uint32_t id;
  uint8_t type;               /* hbt_point_type */
  uint8_t quality;            /* hbt_point_quality */
  uint16_t status;            /* the host's status word, 0 when good */
  int64_t source_time_ms;     /* Unix time in ms of the read that gave the value */
  int64_t integer;            /* BOOL (0/1), INT16, UINT16, INT32, UINT32 */
  double real;                /* FLOAT, DOUBLE; for the integer types the same number */
  const char* text;           /* STRING: not NUL-terminated necessarily, see text_length */
  uint32_t text_length;
  uint32_t reserved;
} hbt_point_value;

typedef struct hbt_driver_state {
  uint32_t size;              /* sizeof(hbt_driver_state) */
  uint32_t generation;        /* moves whenever the session's lists change */
  uint8_t running;            /* the poller polls */
  uint8_t stalled;            /* stopped, gone, or its watchdog stands still */
  uint16_t reserved;
  uint32_t device_count;
  uint32_t record_count;
  uint32_t point_count;
  char status_text[64];       /* the host library's server status text */
  char config_path[128];      /* the configuration file the poller loaded */
} hbt_driver_state;

typedef struct hbt_channel_diag {
  uint32_t channel;           /* 1..16 */
  uint8_t in_service;
  uint8_t tcp;
  uint8_t on_backup;          /* the backup settings are in use */
  uint8_t reserved;
  char address[48];           /* "192.168.0.10:5000" */
  uint32_t requests_sent;
  uint32_t replies_received;
  uint32_t retries;
  uint32_t reply_timeouts;
  uint32_t rejected_replies;
  uint32_t abnormal_codes;
  uint32_t last_end_code;
  double polls_per_second;    /* replies per second over the session's last look */
  uint32_t device_count;
  uint32_t record_count;
} hbt_channel_diag;

typedef struct hbt_message {
  uint64_t sequence;          /* increases by one per message seen by the session */
  uint16_t colour;
  uint16_t length;
  char text[124];
} hbt_message;

/* Opens a session: loads the host library, attaches the image (starting the poller through
 * "DriverExe" when no one has), reads the tag file. *out is NULL on failure. */
HBT_POINTS_EXPORT int32_t hbt_points_open(const hbt_points_options* options, hbt_points** out);
HBT_POINTS_EXPORT void hbt_points_close(hbt_points* session);

/* A text for the last failure of the session (or of open, with a NULL session). */
HBT_POINTS_EXPORT const char* hbt_points_last_error(const hbt_points* session);

HBT_POINTS_EXPORT int32_t hbt_points_state(hbt_points* session, hbt_driver_state* state);

/* The lists of the current generation; the arrays stay valid until the next list call. */
HBT_POINTS_EXPORT int32_t hbt_points_list(hbt_points* session, uint32_t* generation,
                                          const hbt_device_info** devices, uint32_t* device_count,
                                          const hbt_record_info** records, uint32_t* record_count,
                                          const hbt_point_info** points, uint32_t* point_count);

/* The present values of `count` points, fresh from the image. */
HBT_POINTS_EXPORT int32_t hbt_points_read(hbt_points* session, const uint32_t* ids, uint32_t count,
                                          hbt_point_value* out);

/* Every point whose value, quality or status changed since *cursor, the latest value of each,
 * at most `capacity`; *more is non-zero when more are waiting. A cursor of 0 gives every point.
 * *cursor moves on. HBT_POINTS_E_STALE when the generation moved: list again, then cursor 0. */
HBT_POINTS_EXPORT int32_t hbt_points_changes(hbt_points* session, uint64_t* cursor, hbt_point_value* out,
                                             uint32_t capacity, uint32_t* count, uint32_t* more);

/* Blocks until something may have changed or timeout_ms passed; 1 when it may have, 0 not. */
HBT_POINTS_EXPORT int32_t hbt_points_wait(hbt_points* session, uint32_t timeout_ms);

/* Writes `count` values (id and type set, with integer, real or text) through the host's
 * write path; results[i] is an hbt_write_result. */
HBT_POINTS_EXPORT int32_t hbt_points_write(hbt_points* session, const hbt_point_value* values, uint32_t count,
                                           int32_t* results);

/* One entry per channel of the configuration, at most `capacity`; with no room (out NULL or
 * capacity 0) *count is the number of channels. */
HBT_POINTS_EXPORT int32_t hbt_points_channels(hbt_points* session, hbt_channel_diag* out, uint32_t capacity,
                                              uint32_t* count);

/* The driver's messages since *cursor (0: those still in the ring). */
HBT_POINTS_EXPORT int32_t hbt_points_messages(hbt_points* session, uint64_t* cursor, hbt_message* out,
                                              uint32_t capacity, uint32_t* count);

#ifdef __cplusplus
}
#endif

#endif

'use strict';
// The driver's points through the C interface of the points library (hbt_points.h), loaded
// with koffi. Every call moves a batch: the lists once per configuration, the change feed as
// many values as fit a buffer, writes as many as the clients sent together.
//
// A session is used by one caller at a time: the caller serialises (see SessionQueue). Only
// wait() runs off the main thread (on koffi's worker), so nothing else may be called on the
// session until its promise settles.
const path = require('node:path');
const koffi = require('koffi');

const Result = Object.freeze({ OK: 0, ARGUMENT: -1, NO_DRIVER: -2, STALE: -3, MEMORY: -4, TAGS: -5 });
const PointType = Object.freeze({ BOOL: 1, INT16: 2, UINT16: 3, INT32: 4, UINT32: 5, FLOAT: 6, DOUBLE: 7, STRING: 8 });
const Quality = Object.freeze({
  GOOD: 0, COMM_FAILURE: 1, EXPIRED: 2, NOT_POLLED: 3, STALLED: 4, CONFIG: 5, OTHER: 6,
});
const WriteResult = Object.freeze({
  OK: 0, CLAMPED: 1, TYPE_MISMATCH: 2, OUT_OF_RANGE: 3, NOT_WRITABLE: 4, COMM_FAILURE: 5, UNKNOWN_POINT: 6,
});
const kNoRecord = 0xffffffff;

// Layout of hbt_point_value, decoded and encoded by hand: a change batch is one Buffer, and
// koffi's per-object decoding would cost more than the values themselves.
const kValueSize = 48;
const kValue = { id: 0, type: 4, quality: 5, status: 6, time: 8, integer: 16, real: 24, text: 32, textLength: 40 };

class PointsError extends Error {
  constructor(call, code, detail) {
    super(`${call}: ${detail || resultName(code)}`);
    this.call = call;
    this.code = code;
  }
}

function resultName(code) {
  for (const [name, value] of Object.entries(Result)) if (value === code) return name;
  return `result ${code}`;
}

// The library beside the service: lib/ of the installed or build tree (the service lives in
// lib/hbtua/src), unless HBT_POINTS_LIBRARY names another.
function default_library_path(env = process.env) {
  if (env.HBT_POINTS_LIBRARY) return env.HBT_POINTS_LIBRARY;
  const lib = path.resolve(__dirname, '..', '..');
  return path.join(lib, 'libhbtpoints.so');
}

let bound = null;

function bind(libraryPath) {
  if (bound && bound.path === libraryPath) return bound;
  const lib = koffi.load(libraryPath);
  const Options = koffi.struct('hbt_points_options', {
    size: 'uint32_t', host_library: 'const char *', tag_file: 'const char *', update_ms: 'uint32_t', stall_ms: 'uint32_t',
  });
  const DeviceInfo = koffi.struct('hbt_device_info', {
    id: 'uint32_t', channel: 'uint32_t', name: 'const char *', description: 'const char *',
    first_record: 'uint32_t', record_count: 'uint32_t',
  });
  const RecordInfo = koffi.struct('hbt_record_info', {
    id: 'uint32_t', device: 'uint32_t', range: 'const char *', data_type: 'uint16_t', length: 'uint16_t',
    poll_time_cs: 'int32_t', first_point: 'uint32_t', point_count: 'uint32_t',
  });
  const PointInfo = koffi.struct('hbt_point_info', {
    id: 'uint32_t', device: 'uint32_t', record: 'uint32_t', type: 'uint8_t', writable: 'uint8_t',
    analog: 'uint8_t', reserved: 'uint8_t', item_id: 'const char *', name: 'const char *',
    eu_low: 'double', eu_high: 'double', eu_units: 'const char *', deadband: 'double', text_length: 'uint32_t',
  });
  const DriverState = koffi.struct('hbt_driver_state', {
    size: 'uint32_t', generation: 'uint32_t', running: 'uint8_t', stalled: 'uint8_t', reserved: 'uint16_t',
    device_count: 'uint32_t', record_count: 'uint32_t', point_count: 'uint32_t',
    status_text: koffi.array('char', 64), config_path: koffi.array('char', 128),
  });
  const ChannelDiag = koffi.struct('hbt_channel_diag', {
    channel: 'uint32_t', in_service: 'uint8_t', tcp: 'uint8_t', on_backup: 'uint8_t', reserved: 'uint8_t',
    address: koffi.array('char', 48), requests_sent: 'uint32_t', replies_received: 'uint32_t',
    retries: 'uint32_t', reply_timeouts: 'uint32_t', rejected_replies: 'uint32_t', abnormal_codes: 'uint32_t',
    last_end_code: 'uint32_t', polls_per_second: 'double', device_count: 'uint32_t', record_count: 'uint32_t',
  });
  const Message = koffi.struct('hbt_message', {
    sequence: 'uint64_t', colour: 'uint16_t', length: 'uint16_t', text: koffi.array('uint8_t', 124),
  });
  const sizes = [[Options, 32], [DeviceInfo, 32], [RecordInfo, 32], [PointInfo, 72], [DriverState, 216],
    [ChannelDiag, 104], [Message, 136]];
  if (sizes.some(([type, size]) => koffi.sizeof(type) !== size)) {
    throw new Error('the points structures do not have the sizes of hbt_points.h on this platform');
  }
  bound = {
    path: libraryPath,
    types: { Options, DeviceInfo, RecordInfo, PointInfo, DriverState, ChannelDiag, Message },
    open: lib.func('int32_t hbt_points_open(const hbt_points_options *options, _Out_ void **out)'),
    close: lib.func('void hbt_points_close(void *session)'),
    last_error: lib.func('const char *hbt_points_last_error(void *session)'),
    state: lib.func('int32_t hbt_points_state(void *session, _Inout_ hbt_driver_state *state)'),
    list: lib.func('int32_t hbt_points_list(void *session, _Out_ uint32_t *generation, ' +
      '_Out_ void **devices, _Out_ uint32_t *device_count, _Out_ void **records, _Out_ uint32_t *record_count, ' +
      '_Out_ void **points, _Out_ uint32_t *point_count)'),
    changes: lib.func('int32_t hbt_points_changes(void *session, _Inout_ uint64_t *cursor, void *out, ' +
      'uint32_t capacity, _Out_ uint32_t *count, _Out_ uint32_t *more)'),
    wait: lib.func('int32_t hbt_points_wait(void *session, uint32_t timeout_ms)'),
    write: lib.func('int32_t hbt_points_write(void *session, const void *values, uint32_t count, void *results)'),
    channels: lib.func('int32_t hbt_points_channels(void *session, void *out, uint32_t capacity, ' +
      '_Out_ uint32_t *count)'),
    messages: lib.func('int32_t hbt_points_messages(void *session, _Inout_ uint64_t *cursor, void *out, ' +
      'uint32_t capacity, _Out_ uint32_t *count)'),
  };
  return bound;
}

function c_text(chars) {
  // koffi gives char arrays as strings already; a NUL ends them.
  const s = typeof chars === 'string' ? chars : Buffer.from(chars).toString('latin1');
  const end = s.indexOf('\0');
  return end < 0 ? s : s.slice(0, end);
}

class PointsSession {
  // Opens a session; throws PointsError with the library's own text when it cannot.
  static open({ library = default_library_path(), hostLibrary = null, tagFile = null, updateMs = 0, stallMs = 0 } = {}) {
    const api = bind(library);
    const handle = [null];
    const options = {
      size: koffi.sizeof(api.types.Options), host_library: hostLibrary, tag_file: tagFile, update_ms: updateMs,
      stall_ms: stallMs,
    };
    const rc = api.open(options, handle);
    if (rc !== Result.OK || !handle[0]) {
      throw new PointsError('hbt_points_open', rc, api.last_error(null) || resultName(rc));
    }
    return new PointsSession(api, handle[0]);
  }

  constructor(api, handle) {
    this.api_ = api;
    this.handle_ = handle;
    this.changes_capacity_ = 0;
    this.changes_buffer_ = null;
    this.channel_buffer_ = Buffer.alloc(16 * koffi.sizeof(api.types.ChannelDiag));
    this.message_buffer_ = Buffer.alloc(64 * koffi.sizeof(api.types.Message));
  }

  close() {
    if (this.handle_) this.api_.close(this.handle_);
    this.handle_ = null;
  }

  last_error() { return this.handle_ ? this.api_.last_error(this.handle_) : ''; }

  check_(call, rc) {
    if (rc !== Result.OK) throw new PointsError(call, rc, `${resultName(rc)}: ${this.last_error() || ''}`.replace(/: $/, ''));
  }

  state() {
    const state = { size: koffi.sizeof(this.api_.types.DriverState) };
    this.check_('hbt_points_state', this.api_.state(this.handle_, state));
    return {
      generation: state.generation,
      running: state.running !== 0,
      stalled: state.stalled !== 0,
      deviceCount: state.device_count,
      recordCount: state.record_count,
      pointCount: state.point_count,
      statusText: c_text(state.status_text),
      configPath: c_text(state.config_path),
    };
  }

  // The lists of the current generation as plain objects (copied out of the library).
  list() {
    const generation = [0], devices = [null], deviceCount = [0], records = [null], recordCount = [0];
    const points = [null], pointCount = [0];
    this.check_('hbt_points_list', this.api_.list(this.handle_, generation, devices, deviceCount, records,
      recordCount, points, pointCount));
    const { DeviceInfo, RecordInfo, PointInfo } = this.api_.types;
    const decode = (ptr, type, n) => (n && ptr ? koffi.decode(ptr, koffi.array(type, n)) : []);
    return {
      generation: generation[0],
      devices: decode(devices[0], DeviceInfo, deviceCount[0]),
      records: decode(records[0], RecordInfo, recordCount[0]),
      points: decode(points[0], PointInfo, pointCount[0]),
    };
  }

  // Values changed since `cursor` (a BigInt; 0n for every point). Returns {cursor, values,
  // more}, or {stale: true} when the configuration moved on and the lists must be read again.
  changes(cursor, capacity = 4096) {
    if (capacity !== this.changes_capacity_) {
      this.changes_buffer_ = Buffer.alloc(capacity * kValueSize);
      this.changes_capacity_ = capacity;
    }
    const buf = this.changes_buffer_;
    const c = [cursor], count = [0], more = [0];
    const rc = this.api_.changes(this.handle_, c, buf, capacity, count, more);
    if (rc === Result.STALE) return { stale: true, cursor: 0n, values: [], more: false };
    this.check_('hbt_points_changes', rc);
    const values = new Array(count[0]);
    for (let i = 0; i < count[0]; ++i) values[i] = decode_value(buf, i * kValueSize);
    return { stale: false, cursor: BigInt(c[0]), values, more: more[0] !== 0 };
  }

  // Resolves true when something may have changed, false after timeoutMs of quiet.
  wait(timeoutMs) {
    return new Promise((resolve, reject) => {
      this.api_.wait.async(this.handle_, timeoutMs, (err, rc) => {
        if (err) reject(err);
        else resolve(rc === 1);
      });
    });
  }

  // values: [{id, type, integer?, real?, text?: Buffer}] → one hbt_write_result per value.
  write(values) {
    const n = values.length;
    if (n === 0) return [];
    const buf = Buffer.alloc(n * kValueSize);
    const texts = [];
    try {
      values.forEach((v, i) => {
        const at = i * kValueSize;
        buf.writeUInt32LE(v.id >>> 0, at + kValue.id);
        buf.writeUInt8(v.type, at + kValue.type);
        buf.writeBigInt64LE(BigInt(v.integer ?? 0), at + kValue.integer);
        buf.writeDoubleLE(v.real ?? 0, at + kValue.real);
        if (v.text) {
          const bytes = koffi.alloc('uint8_t', Math.max(1, v.text.length));
          texts.push(bytes);
          Buffer.from(koffi.view(bytes, v.text.length)).set(v.text);
          buf.writeBigUInt64LE(BigInt(koffi.address(bytes)), at + kValue.text);
          buf.writeUInt32LE(v.text.length, at + kValue.textLength);
        }
      });
      const results = new Int32Array(n);
      this.check_('hbt_points_write', this.api_.write(this.handle_, buf, n, results));
      return Array.from(results);
    } finally {
      for (const t of texts) koffi.free(t);
    }
  }

  channels() {
    const { ChannelDiag } = this.api_.types;
    const size = koffi.sizeof(ChannelDiag);
    const count = [0];
    this.check_('hbt_points_channels', this.api_.channels(this.handle_, this.channel_buffer_, 16, count));
    const out = [];
    for (let i = 0; i < count[0]; ++i) {
      const d = koffi.decode(this.channel_buffer_, i * size, ChannelDiag);
      out.push({
        channel: d.channel, inService: d.in_service !== 0, tcp: d.tcp !== 0, onBackup: d.on_backup !== 0,
        address: c_text(d.address), requestsSent: d.requests_sent, repliesReceived: d.replies_received,
        retries: d.retries, replyTimeouts: d.reply_timeouts, rejectedReplies: d.rejected_replies,
        abnormalCodes: d.abnormal_codes, lastEndCode: d.last_end_code, pollsPerSecond: d.polls_per_second,
        deviceCount: d.device_count, recordCount: d.record_count,
      });
    }
    return out;
  }

  // The driver's messages since `cursor` (BigInt): {cursor, messages: [{sequence, colour, text}]}.
  messages(cursor) {
    const { Message } = this.api_.types;
    const size = koffi.sizeof(Message);
    const c = [cursor], count = [0];
    this.check_('hbt_points_messages', this.api_.messages(this.handle_, c, this.message_buffer_, 64, count));
    const messages = [];
    for (let i = 0; i < count[0]; ++i) {
      const m = koffi.decode(this.message_buffer_, i * size, Message);
      const length = Math.min(m.length, 123);
      messages.push({
        sequence: BigInt(m.sequence), colour: m.colour,
        text: c_text(Buffer.from(m.text.slice(0, length))),
      });
    }
    return { cursor: BigInt(c[0]), messages };
  }
}

function decode_value(buf, at) {
  const type = buf[at + kValue.type];
  const value = {
    id: buf.readUInt32LE(at + kValue.id),
    type,
    quality: buf[at + kValue.quality],
    status: buf.readUInt16LE(at + kValue.status),
    sourceTime: Number(buf.readBigInt64LE(at + kValue.time)),
    integer: 0,
    real: 0,
    text: null,
  };
  if (type === PointType.STRING) {
    const ptr = buf.readBigUInt64LE(at + kValue.text);
    const length = buf.readUInt32LE(at + kValue.textLength);
    value.text = ptr && length ? Buffer.from(koffi.decode(ptr, koffi.array('uint8_t', length, 'Typed'))) : Buffer.alloc(0);
  } else if (type === PointType.FLOAT || type === PointType.DOUBLE) {
    value.real = buf.readDoubleLE(at + kValue.real);
  } else {
    value.integer = Number(buf.readBigInt64LE(at + kValue.integer));
  }
  return value;
}

module.exports = {
  PointsSession, PointsError, Result, PointType, Quality, WriteResult, kNoRecord, default_library_path,
};

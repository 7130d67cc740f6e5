'use strict';
// Values between the points model and OPC UA: a point's value and quality as a Variant with a
// StatusCode, a client's Variant as a value the driver can write, and the driver's write
// results as UA status codes.
const { DataType, StatusCodes, Variant } = require('node-opcua');
const { PointType, Quality, WriteResult } = require('./points');

const kDataTypes = Object.freeze({
  [PointType.BOOL]: DataType.Boolean,
  [PointType.INT16]: DataType.Int16,
  [PointType.UINT16]: DataType.UInt16,
  [PointType.INT32]: DataType.Int32,
  [PointType.UINT32]: DataType.UInt32,
  [PointType.FLOAT]: DataType.Float,
  [PointType.DOUBLE]: DataType.Double,
  [PointType.STRING]: DataType.String,
});

const kIntegerRanges = Object.freeze({
  [PointType.INT16]: [-32768, 32767],
  [PointType.UINT16]: [0, 65535],
  [PointType.INT32]: [-2147483648, 2147483647],
  [PointType.UINT32]: [0, 4294967295],
});

const kFloatMax = 3.4028234663852886e38;

// Host value statuses that come with a usable value outside its conditioning's range
// (raw above the range, clamped low, clamped high) and with a float register that held no
// number (the host hands 0.0 in its place).
const kStatusEguExceeded = new Set([4292, 4162, 4163]);
const kStatusNotANumber = 2185;

function data_type_of(pointType) {
  const t = kDataTypes[pointType];
  if (t === undefined) throw new Error(`unknown point type ${pointType}`);
  return t;
}

// The quality of a point as a UA StatusCode. The value itself is kept in every case: a
// client that looks past a bad status sees the last value the driver had.
function status_of(quality, hostStatus) {
  switch (quality) {
    case Quality.GOOD: return StatusCodes.Good;
    case Quality.COMM_FAILURE: return StatusCodes.BadCommunicationError;
    case Quality.EXPIRED: return StatusCodes.UncertainLastUsableValue;
    case Quality.NOT_POLLED: return StatusCodes.BadOutOfService;
    case Quality.STALLED: return StatusCodes.BadNoCommunication;
    case Quality.CONFIG: return StatusCodes.BadNodeIdUnknown;
    default:
      if (kStatusEguExceeded.has(hostStatus)) return StatusCodes.UncertainEngineeringUnitsExceeded;
      if (hostStatus === kStatusNotANumber) return StatusCodes.BadOutOfRange;
      return StatusCodes.Bad;
  }
}

// Text registers as characters: one byte is one character (Latin-1), ending at the first NUL
// as the host's text reads do.
function text_of(bytes) {
  if (!bytes) return '';
  const end = bytes.indexOf(0);
  return bytes.toString('latin1', 0, end < 0 ? bytes.length : end);
}

// The plain JS value of a point value, in the point's type.
function js_value_of(value) {
  switch (value.type) {
    case PointType.BOOL: return value.integer !== 0;
    case PointType.FLOAT:
    case PointType.DOUBLE: return value.real;
    case PointType.STRING: return text_of(value.text);
    default: return value.integer;
  }
}

function variant_of(value) {
  return new Variant({ dataType: data_type_of(value.type), value: js_value_of(value) });
}

// A number from any numeric Variant (Int64 and UInt64 arrive as [high, low] words), or
// undefined when the Variant holds no single number.
function number_of(variant) {
  if (!variant || variant.arrayType !== undefined && variant.arrayType !== 0) return undefined;
  const v = variant.value;
  switch (variant.dataType) {
    case DataType.SByte: case DataType.Byte: case DataType.Int16: case DataType.UInt16:
    case DataType.Int32: case DataType.UInt32: case DataType.Float: case DataType.Double:
      return typeof v === 'number' ? v : undefined;
    case DataType.Int64:
    case DataType.UInt64: {
      if (!Array.isArray(v) || v.length !== 2) return typeof v === 'number' ? v : undefined;
      const [high, low] = v;
      const signedHigh = variant.dataType === DataType.Int64 && high >= 0x80000000 ? high - 0x100000000 : high;
      return signedHigh * 0x100000000 + low;
    }
    default: return undefined;
  }
}

// What a client's Variant writes to a point: {value} to hand to the driver (clamped when the
// text had to be cut), or {status} when it cannot be written at all. Numbers convert between
// numeric types only when nothing is lost; anything else is a type mismatch.
function write_value_of(point, variant) {
  const type = point.type;
  if (!variant || (variant.arrayType !== undefined && variant.arrayType !== 0)) {
    return { status: StatusCodes.BadTypeMismatch };
  }
  if (type === PointType.BOOL) {
    if (variant.dataType !== DataType.Boolean) return { status: StatusCodes.BadTypeMismatch };
    return { value: { id: point.id, type, integer: variant.value ? 1 : 0 } };
  }
  if (type === PointType.STRING) {
    if (variant.dataType !== DataType.String) return { status: StatusCodes.BadTypeMismatch };
    const text = variant.value ?? '';
    if (/[^\u0000-\u00ff]/.test(text)) return { status: StatusCodes.BadOutOfRange };
    let bytes = Buffer.from(text, 'latin1');
    let clamped = false;
    if (point.textLength > 0 && bytes.length > point.textLength) {
      bytes = bytes.subarray(0, point.textLength);
      clamped = true;
    }
    return { value: { id: point.id, type, text: bytes }, clamped };
  }
  const n = number_of(variant);
  if (n === undefined) return { status: StatusCodes.BadTypeMismatch };
  if (!Number.isFinite(n)) return { status: StatusCodes.BadOutOfRange };
  const range = kIntegerRanges[type];
  if (range) {
    if (!Number.isInteger(n)) return { status: StatusCodes.BadTypeMismatch };
    if (n < range[0] || n > range[1]) return { status: StatusCodes.BadOutOfRange };
    return { value: { id: point.id, type, integer: n } };
  }
  if (type === PointType.FLOAT) {
    if (Math.abs(n) > kFloatMax) return { status: StatusCodes.BadOutOfRange };
    return { value: { id: point.id, type, real: n } };
  }
  if (type === PointType.DOUBLE) return { value: { id: point.id, type, real: n } };
  return { status: StatusCodes.BadTypeMismatch };
}

function write_status_of(result, clamped = false) {
  switch (result) {
    case WriteResult.OK: return clamped ? StatusCodes.GoodClamped : StatusCodes.Good;
    case WriteResult.CLAMPED: return StatusCodes.GoodClamped;
    case WriteResult.TYPE_MISMATCH: return StatusCodes.BadTypeMismatch;
    case WriteResult.OUT_OF_RANGE: return StatusCodes.BadOutOfRange;
    case WriteResult.NOT_WRITABLE: return StatusCodes.BadNotWritable;
    case WriteResult.COMM_FAILURE: return StatusCodes.BadCommunicationError;
    case WriteResult.UNKNOWN_POINT: return StatusCodes.BadNodeIdUnknown;
    default: return StatusCodes.BadInternalError;
  }
}

module.exports = {
  data_type_of, status_of, text_of, js_value_of, variant_of, number_of, write_value_of, write_status_of,
};

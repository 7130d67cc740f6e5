'use strict';
// Values between the points model and UA: qualities as status codes, text registers, what a
// client's Variant writes to each kind of point, and the driver's write results.
const test = require('node:test');
const assert = require('node:assert/strict');
const { DataType, StatusCodes, Variant } = require('node-opcua');
const { PointType, Quality, WriteResult } = require('../src/points');
const values = require('../src/values');

test('every quality maps to the status code clients are told about', () => {
  const cases = [
    [Quality.GOOD, 0, StatusCodes.Good],
    [Quality.COMM_FAILURE, 4293, StatusCodes.BadCommunicationError],
    [Quality.EXPIRED, 4296, StatusCodes.UncertainLastUsableValue],
    [Quality.NOT_POLLED, 4297, StatusCodes.BadOutOfService],
    [Quality.STALLED, 0, StatusCodes.BadNoCommunication],
    [Quality.CONFIG, 0, StatusCodes.BadNodeIdUnknown],
    [Quality.OTHER, 4292, StatusCodes.UncertainEngineeringUnitsExceeded],
    [Quality.OTHER, 4162, StatusCodes.UncertainEngineeringUnitsExceeded],
    [Quality.OTHER, 4163, StatusCodes.UncertainEngineeringUnitsExceeded],
    [Quality.OTHER, 2185, StatusCodes.BadOutOfRange],
    [Quality.OTHER, 1234, StatusCodes.Bad],
  ];
  for (const [quality, status, want] of cases) {
    assert.equal(values.status_of(quality, status), want, `quality ${quality} status ${status}`);
  }
});

test('point values become variants of the point type, texts end at their first NUL', () => {
  const v = (type, fields) => values.variant_of({ type, integer: 0, real: 0, text: null, ...fields });
  assert.deepEqual([v(PointType.BOOL, { integer: 1 }).dataType, v(PointType.BOOL, { integer: 1 }).value], [DataType.Boolean, true]);
  assert.equal(v(PointType.BOOL, { integer: 0 }).value, false);
  assert.deepEqual([v(PointType.INT16, { integer: -32768 }).dataType, v(PointType.INT16, { integer: -32768 }).value], [DataType.Int16, -32768]);
  assert.equal(v(PointType.UINT16, { integer: 65535 }).value, 65535);
  assert.equal(v(PointType.INT32, { integer: -2147483648 }).value, -2147483648);
  assert.deepEqual([v(PointType.UINT32, { integer: 4294967295 }).dataType, v(PointType.UINT32, { integer: 4294967295 }).value], [DataType.UInt32, 4294967295]);
  assert.deepEqual([v(PointType.FLOAT, { real: 1.5 }).dataType, v(PointType.FLOAT, { real: 1.5 }).value], [DataType.Float, 1.5]);
  assert.equal(v(PointType.DOUBLE, { real: 0.1 }).value, 0.1);
  const text = v(PointType.STRING, { text: Buffer.from([0x41, 0x42, 0xe9, 0x00, 0x43]) });
  assert.deepEqual([text.dataType, text.value], [DataType.String, 'ABé']);
  assert.equal(v(PointType.STRING, { text: Buffer.alloc(0) }).value, '');
});

test('Int64 and UInt64 variants are read as one number, arrays and non-numbers as none', () => {
  assert.equal(values.number_of(new Variant({ dataType: DataType.Int64, arrayType: 0, value: [0xffffffff, 0xfffffffe] })), -2);
  assert.equal(values.number_of(new Variant({ dataType: DataType.UInt64, arrayType: 0, value: [1, 5] })), 0x100000005);
  assert.equal(values.number_of(new Variant({ dataType: DataType.Double, value: 2.5 })), 2.5);
  assert.equal(values.number_of(new Variant({ dataType: DataType.String, value: '5' })), undefined);
  assert.equal(values.number_of(new Variant({ dataType: DataType.Boolean, value: true })), undefined);
  assert.equal(values.number_of(new Variant({ dataType: DataType.Int16, arrayType: 1, value: [1, 2] })), undefined);
});

const point = (type, extra = {}) => ({ id: 7, type, textLength: 0, ...extra });
const variant = (dataType, value) => new Variant({ dataType, arrayType: 0, value });

test('writes of the point type, or of a number that converts without loss, go to the driver', () => {
  const ok = (p, v, want) => {
    const r = values.write_value_of(p, v);
    assert.equal(r.status, undefined, `${JSON.stringify(v)} to type ${p.type}: ${r.status}`);
    assert.deepEqual(r.value, { id: 7, type: p.type, ...want });
  };
  ok(point(PointType.BOOL), variant(DataType.Boolean, true), { integer: 1 });
  ok(point(PointType.BOOL), variant(DataType.Boolean, false), { integer: 0 });
  ok(point(PointType.INT16), variant(DataType.Int16, -5), { integer: -5 });
  ok(point(PointType.INT16), variant(DataType.Int64, [0xffffffff, 0xffff8000]), { integer: -32768 });
  ok(point(PointType.UINT16), variant(DataType.Double, 65535), { integer: 65535 });
  ok(point(PointType.UINT16), variant(DataType.Byte, 200), { integer: 200 });
  ok(point(PointType.INT32), variant(DataType.Int32, -2147483648), { integer: -2147483648 });
  ok(point(PointType.UINT32), variant(DataType.UInt32, 4294967295), { integer: 4294967295 });
  ok(point(PointType.FLOAT), variant(DataType.Float, 1.25), { real: 1.25 });
  ok(point(PointType.FLOAT), variant(DataType.Int16, -3), { real: -3 });
  ok(point(PointType.DOUBLE), variant(DataType.Double, 1e300), { real: 1e300 });
  ok(point(PointType.STRING, { textLength: 10 }), variant(DataType.String, 'ABC'), { text: Buffer.from('ABC') });
  ok(point(PointType.STRING, { textLength: 4 }), variant(DataType.String, 'Ä1'), { text: Buffer.from([0xc4, 0x31]) });
});

test('writes that do not fit the point are refused with the status that says why', () => {
  const refused = (p, v, want) => {
    assert.equal(values.write_value_of(p, v).status, want, `${v && v.toString()} to type ${p.type}`);
  };
  refused(point(PointType.BOOL), variant(DataType.Int16, 1), StatusCodes.BadTypeMismatch);
  refused(point(PointType.BOOL), variant(DataType.String, 'true'), StatusCodes.BadTypeMismatch);
  refused(point(PointType.INT16), variant(DataType.Int32, 32768), StatusCodes.BadOutOfRange);
  refused(point(PointType.INT16), variant(DataType.Int32, -32769), StatusCodes.BadOutOfRange);
  refused(point(PointType.UINT16), variant(DataType.Int16, -1), StatusCodes.BadOutOfRange);
  refused(point(PointType.UINT16), variant(DataType.Double, 1.5), StatusCodes.BadTypeMismatch);
  refused(point(PointType.UINT32), variant(DataType.Int64, [1, 0]), StatusCodes.BadOutOfRange);
  refused(point(PointType.UINT16), variant(DataType.String, '12'), StatusCodes.BadTypeMismatch);
  refused(point(PointType.UINT16), variant(DataType.Boolean, true), StatusCodes.BadTypeMismatch);
  refused(point(PointType.FLOAT), variant(DataType.Double, 1e39), StatusCodes.BadOutOfRange);
  refused(point(PointType.FLOAT), variant(DataType.Double, NaN), StatusCodes.BadOutOfRange);
  refused(point(PointType.DOUBLE), variant(DataType.Double, Infinity), StatusCodes.BadOutOfRange);
  refused(point(PointType.STRING), variant(DataType.Int16, 1), StatusCodes.BadTypeMismatch);
  refused(point(PointType.STRING), variant(DataType.String, 'snow ☃'), StatusCodes.BadOutOfRange);
  refused(point(PointType.INT16), new Variant({ dataType: DataType.Int16, arrayType: 1, value: [1] }), StatusCodes.BadTypeMismatch);
  refused(point(PointType.INT16), undefined, StatusCodes.BadTypeMismatch);
  refused(point(PointType.INT16), new Variant({ dataType: DataType.Null }), StatusCodes.BadTypeMismatch);
});

test('a text longer than its point is cut and the write reported clamped', () => {
  const r = values.write_value_of(point(PointType.STRING, { textLength: 3 }), variant(DataType.String, 'ABCDE'));
  assert.deepEqual(r.value.text, Buffer.from('ABC'));
  assert.equal(r.clamped, true);
  assert.equal(values.write_status_of(WriteResult.OK, r.clamped), StatusCodes.GoodClamped);
});

test('the driver write results map to UA status codes', () => {
  assert.equal(values.write_status_of(WriteResult.OK), StatusCodes.Good);
  assert.equal(values.write_status_of(WriteResult.CLAMPED), StatusCodes.GoodClamped);
  assert.equal(values.write_status_of(WriteResult.TYPE_MISMATCH), StatusCodes.BadTypeMismatch);
  assert.equal(values.write_status_of(WriteResult.OUT_OF_RANGE), StatusCodes.BadOutOfRange);
  assert.equal(values.write_status_of(WriteResult.NOT_WRITABLE), StatusCodes.BadNotWritable);
  assert.equal(values.write_status_of(WriteResult.COMM_FAILURE), StatusCodes.BadCommunicationError);
  assert.equal(values.write_status_of(WriteResult.UNKNOWN_POINT), StatusCodes.BadNodeIdUnknown);
  assert.equal(values.write_status_of(99), StatusCodes.BadInternalError);
});

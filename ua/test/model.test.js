'use strict';
// The address space a configuration gives and what changes between two configurations.
const test = require('node:test');
const assert = require('node:assert/strict');
const { plan_of, diff_plans } = require('../src/model');
const { PointType, kNoRecord } = require('../src/points');
const { lists } = require('./fake_points');

test('one folder per PLC, one per poll record, one variable per point, named by the host texts', () => {
  const plan = plan_of(lists({
    devices: [{ name: 'QPLC1', description: 'Mixing line', records: [
      { range: 'D:0 - D:1', points: [['D:0', PointType.UINT16], ['D:1', PointType.UINT16]] },
      { range: 'M:0 - M:1', points: [['M:0', PointType.BOOL], ['M:1', PointType.BOOL]] },
    ] }, { name: 'APLC2', description: '', records: [{ range: 'D:50 - D:51', points: [['D:50', PointType.INT32]] }] }],
  }));
  assert.deepEqual([...plan.folders.keys()], ['QPLC1', 'APLC2', 'QPLC1:D:0 - D:1', 'QPLC1:M:0 - M:1', 'APLC2:D:50 - D:51']);
  assert.equal(plan.folders.get('QPLC1').displayName, 'Mixing line');
  assert.equal(plan.folders.get('APLC2').displayName, 'APLC2', 'a PLC without a description shows its name');
  assert.equal(plan.folders.get('QPLC1:M:0 - M:1').parent, 'QPLC1');
  assert.deepEqual([...plan.variables.keys()], ['QPLC1:D:0', 'QPLC1:D:1', 'QPLC1:M:0', 'QPLC1:M:1', 'APLC2:D:50']);
  const m1 = plan.variables.get('QPLC1:M:1');
  assert.deepEqual([m1.parent, m1.browseName, m1.type, m1.pointId], ['QPLC1:M:0 - M:1', 'M:1', PointType.BOOL, 3]);
  assert.deepEqual(plan.skipped, []);
});

test('an address two records hold is served once, from the first record, as the host reads it', () => {
  const plan = plan_of(lists({
    devices: [{ name: 'Q', records: [
      { range: 'D:0 - D:1', points: [['D:0', PointType.UINT16], ['D:1', PointType.UINT16]] },
      { range: 'D:1 - D:2', points: [['D:1', PointType.INT16], ['D:2', PointType.INT16]] },
    ] }],
  }));
  assert.equal(plan.variables.get('Q:D:1').type, PointType.UINT16);
  assert.equal(plan.variables.get('Q:D:1').parent, 'Q:D:0 - D:1');
  assert.equal(plan.variables.get('Q:D:2').parent, 'Q:D:1 - D:2');
  assert.deepEqual(plan.skipped.map((s) => s.itemId), ['Q:D:1']);
});

test('a tag of no record sits in its PLC folder; an analog tag keeps its range and units', () => {
  const l = lists({ devices: [{ name: 'Q', records: [{ range: 'D:0 - D:0', points: [['D:0', PointType.UINT16]] }] }] });
  l.points.push({
    id: 1, device: 0, record: kNoRecord, type: PointType.DOUBLE, writable: 1, analog: 1, item_id: 'Q:D:0|LIN,0,100,,degC',
    name: 'D:0|LIN,0,100,,degC', eu_low: 0, eu_high: 100, eu_units: 'degC', deadband: 0.5, text_length: 0,
  });
  const v = plan_of(l).variables.get('Q:D:0|LIN,0,100,,degC');
  assert.deepEqual([v.parent, v.analog, v.euLow, v.euHigh, v.units], ['Q', true, 0, 100, 'degC']);
});

test('a reload keeps what stays, moves what changed record, remakes what changed kind', () => {
  const before = plan_of(lists({
    devices: [{ name: 'Q', records: [
      { range: 'D:0 - D:2', points: [['D:0', PointType.UINT16], ['D:1', PointType.UINT16], ['D:2', PointType.UINT16]] },
      { range: 'M:0 - M:0', points: [['M:0', PointType.BOOL]] },
    ] }, { name: 'GONE', records: [{ range: 'D:0 - D:0', points: [['D:0', PointType.UINT16]] }] }],
  }));
  const after = plan_of(lists({
    devices: [{ name: 'Q', description: 'renamed', records: [
      { range: 'D:0 - D:0', points: [['D:0', PointType.UINT16]] },
      { range: 'D:1 - D:2', points: [['D:1', PointType.UINT16], ['D:2', PointType.FLOAT]] },
      { range: 'X:0 - X:0', points: [['X:0', PointType.BOOL]] },
    ] }],
  }));
  const d = diff_plans(before, after);
  const ids = (list) => list.map((x) => x.nodeId).sort();
  assert.deepEqual(ids(d.removedVariables), ['GONE:D:0', 'Q:D:2', 'Q:M:0']);
  assert.deepEqual(ids(d.addedVariables), ['Q:D:2', 'Q:X:0']);
  assert.deepEqual(ids(d.keptVariables), ['Q:D:0', 'Q:D:1']);
  assert.deepEqual(d.movedVariables.map((m) => [m.variable.nodeId, m.from, m.variable.parent]),
    [['Q:D:0', 'Q:D:0 - D:2', 'Q:D:0 - D:0'], ['Q:D:1', 'Q:D:0 - D:2', 'Q:D:1 - D:2']]);
  assert.deepEqual(ids(d.removedFolders), ['GONE', 'GONE:D:0 - D:0', 'Q:D:0 - D:2', 'Q:M:0 - M:0']);
  assert.deepEqual(ids(d.addedFolders), ['Q:D:0 - D:0', 'Q:D:1 - D:2', 'Q:X:0 - X:0']);
  assert.deepEqual(ids(d.changedFolders), ['Q']);
  assert.deepEqual(d, diff_plans(before, after), 'the diff depends on the plans only');
  const same = diff_plans(after, after);
  assert.equal(same.removedVariables.length + same.addedVariables.length + same.movedVariables.length, 0);
});

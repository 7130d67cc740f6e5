'use strict';
// A points session in memory, with the behaviour of the C interface the service relies on
// (lists per generation, a change feed with a cursor, stale after a reload, batched writes),
// driven by the test: values, qualities, reloads and write results on demand.
const { PointType, Quality, WriteResult, kNoRecord } = require('../src/points');

// Lists as PointsSession.list() gives them, from {devices: [{name, description, records:
// [{range, points: [[name, type, extra]]}]}]}.
function lists(plant, generation = 1) {
  const devices = [];
  const records = [];
  const points = [];
  plant.devices.forEach((d, di) => {
    const firstRecord = records.length;
    for (const r of d.records) {
      const firstPoint = points.length;
      for (const [name, type, extra] of r.points) {
        points.push({
          id: points.length, device: di, record: records.length, type, writable: 1, analog: 0, reserved: 0,
          item_id: `${d.name}:${name}`, name, eu_low: 0, eu_high: 0, eu_units: '', deadband: 0,
          text_length: type === PointType.STRING ? 10 : 0, ...extra,
        });
      }
      records.push({
        id: records.length, device: di, range: r.range, data_type: 2, length: r.points.length, poll_time_cs: 10,
        first_point: firstPoint, point_count: points.length - firstPoint,
      });
    }
    devices.push({
      id: di, channel: 1, name: d.name, description: d.description ?? '', first_record: firstRecord,
      record_count: records.length - firstRecord,
    });
  });
  return { generation, devices, records, points };
}

class FakeSession {
  constructor(plant) {
    this.generation_ = 0;
    this.seq_ = 0n;
    this.waiters_ = [];
    this.writes = [];
    this.writeResults = new Map();  // item ID → hbt_write_result
    this.messageLog = [];
    this.channelList = [];
    this.failWrites = null;
    this.load(plant);
  }

  // A new configuration: the next changes() call reports the lists stale.
  load(plant) {
    this.generation_ += 1;
    this.lists_ = lists(plant, this.generation_);
    this.values_ = this.lists_.points.map((p) => ({
      id: p.id, type: p.type, quality: Quality.GOOD, status: 0, sourceTime: 1700000000000, integer: 0, real: 0,
      text: p.type === PointType.STRING ? Buffer.alloc(0) : null, changed: ++this.seq_,
    }));
    this.wake_();
  }

  point_id(itemId) {
    const p = this.lists_.points.find((x) => x.item_id === itemId);
    if (!p) throw new Error(`no point ${itemId}`);
    return p.id;
  }

  // Sets a point's value fields (integer, real, text, quality, status, sourceTime).
  set(itemId, fields) {
    const v = this.values_[this.point_id(itemId)];
    Object.assign(v, fields, { changed: ++this.seq_ });
    this.wake_();
  }

  set_all(fields) {
    for (const v of this.values_) Object.assign(v, fields, { changed: ++this.seq_ });
    this.wake_();
  }

  wake_() {
    const w = this.waiters_;
    this.waiters_ = [];
    for (const resolve of w) resolve(true);
  }

  state() {
    return {
      generation: this.generation_, running: true, stalled: false, deviceCount: this.lists_.devices.length,
      recordCount: this.lists_.records.length, pointCount: this.lists_.points.length, statusText: 'fake driver',
      configPath: '/fake/PLANT.HBT',
    };
  }

  list() {
    this.listed_ = this.generation_;
    return structuredClone(this.lists_);
  }

  changes(cursor, capacity) {
    if (this.listed_ !== this.generation_) return { stale: true, cursor: 0n, values: [], more: false };
    const pending = this.values_.filter((v) => v.changed > cursor).sort((a, b) => (a.changed < b.changed ? -1 : 1));
    const taken = pending.slice(0, capacity);
    const next = taken.length ? taken[taken.length - 1].changed : cursor;
    const copy = taken.map(({ changed, ...v }) => ({ ...v, text: v.text ? Buffer.from(v.text) : null }));
    return { stale: false, cursor: next, values: copy, more: pending.length > capacity };
  }

  wait(timeoutMs) {
    return new Promise((resolve) => {
      const timer = setTimeout(() => {
        this.waiters_ = this.waiters_.filter((w) => w !== done);
        resolve(false);
      }, timeoutMs);
      const done = (v) => { clearTimeout(timer); resolve(v); };
      this.waiters_.push(done);
    });
  }

  write(values) {
    if (this.failWrites) throw this.failWrites;
    this.writes.push(values.map((v) => ({ ...v })));
    return values.map((v) => {
      const p = this.lists_.points[v.id];
      return p ? (this.writeResults.get(p.item_id) ?? WriteResult.OK) : WriteResult.UNKNOWN_POINT;
    });
  }

  channels() { return this.channelList; }

  messages(cursor) {
    const fresh = this.messageLog.filter((m) => m.sequence > cursor);
    return { cursor: fresh.length ? fresh[fresh.length - 1].sequence : cursor, messages: fresh };
  }

  add_message(colour, text) {
    this.messageLog.push({ sequence: BigInt(this.messageLog.length + 1), colour, text });
  }

  close() { this.closed = true; }
}

module.exports = { lists, FakeSession, kNoRecord };

'use strict';
// The change feed: waits on the points session for changes (off the main thread), takes them
// in batches and pushes them into the address space; follows a new configuration when the
// session reports its lists stale. Writes and diagnostics take their turns on the same
// session through one queue, because a session serves one caller at a time.
const { plan_of } = require('./model');

// Runs session calls one after another, in the order they were asked for.
class SessionQueue {
  constructor() { this.tail_ = Promise.resolve(); }
  run(task) {
    const result = this.tail_.then(task);
    this.tail_ = result.catch(() => {});
    return result;
  }
}

// Writes that arrive while the session is busy go to the driver together, in one call.
class WriteBatcher {
  constructor(queue, session) {
    this.queue_ = queue;
    this.session_ = session;
    this.pending_ = [];
  }
  submit(value) {
    return new Promise((resolve, reject) => {
      this.pending_.push({ value, resolve, reject });
      if (this.pending_.length === 1) this.queue_.run(() => this.flush_());
    });
  }
  flush_() {
    const batch = this.pending_;
    this.pending_ = [];
    let results;
    try {
      results = this.session_.write(batch.map((b) => b.value));
    } catch (err) {
      for (const b of batch) b.reject(err);
      return;
    }
    batch.forEach((b, i) => b.resolve(results[i]));
  }
}

const yield_to_clients = () => new Promise((resolve) => setImmediate(resolve));

class ChangeFeed {
  // waitMs bounds how long a write may wait for the session while the plant is quiet.
  constructor({ session, queue, space, log, waitMs = 20, batch = 4096, onReload = () => {} }) {
    this.session_ = session;
    this.queue_ = queue;
    this.space_ = space;
    this.log_ = log;
    this.waitMs_ = waitMs;
    this.batch_ = batch;
    this.onReload_ = onReload;
    this.cursor_ = 0n;
    this.stopped_ = false;
    this.running_ = null;
    this.stats = { batches: 0, values: 0, reloads: 0 };
    this.window_ = { since: Date.now(), values: 0, lagSum: 0, lagCount: 0, lagMax: 0 };
  }

  // The address space of the present configuration with every value in it.
  async load() {
    await this.queue_.run(() => this.reload_());
    await this.queue_.run(() => this.drain_());
  }

  start() {
    this.running_ = this.loop_();
    return this.running_;
  }

  async stop() {
    this.stopped_ = true;
    if (this.running_) await this.running_;
  }

  async loop_() {
    let failures = 0;
    while (!this.stopped_) {
      try {
        await this.queue_.run(() => this.session_.wait(this.waitMs_));
        if (this.stopped_) break;
        await this.queue_.run(() => this.drain_());
        failures = 0;
      } catch (err) {
        // The library reports a missing driver; the points already say so through their
        // quality, so the feed only logs once and tries again a little later.
        if (failures++ === 0) this.log_.warn(`change feed: ${err.message}`);
        await new Promise((resolve) => setTimeout(resolve, Math.min(1000, 50 * failures)));
      }
    }
  }

  reload_() {
    const lists = this.session_.list();
    const plan = plan_of(lists);
    const diff = this.space_.apply_plan(plan);
    this.cursor_ = 0n;
    this.stats.reloads += 1;
    for (const s of plan.skipped) this.log_.warn(`item ${s.itemId} left out: ${s.reason}`);
    this.onReload_(plan, diff);
    return diff;
  }

  // How long after the poller's read a value reached its variable, for the diagnostics.
  measure_lag_(values) {
    const w = this.window_;
    const now = Date.now();
    w.values += values.length;
    for (const v of values) {
      if (!(v.sourceTime > 0)) continue;
      const lag = now - v.sourceTime;
      w.lagSum += lag;
      w.lagCount += 1;
      if (lag > w.lagMax) w.lagMax = lag;
    }
  }

  // The figures since the last call: values per second, mean and largest lag (ms).
  take_window() {
    const w = this.window_;
    const now = Date.now();
    const seconds = Math.max(0.001, (now - w.since) / 1000);
    this.window_ = { since: now, values: 0, lagSum: 0, lagCount: 0, lagMax: 0 };
    return {
      valuesPerSecond: w.values / seconds, lagMs: w.lagCount ? w.lagSum / w.lagCount : 0, lagMaxMs: w.lagMax,
      reloads: this.stats.reloads,
    };
  }

  // Everything changed since the cursor, batch by batch, letting clients in between.
  async drain_() {
    for (;;) {
      const r = this.session_.changes(this.cursor_, this.batch_);
      if (r.stale) {
        this.reload_();
        continue;
      }
      this.cursor_ = r.cursor;
      if (r.values.length) {
        this.space_.set_values(r.values);
        this.stats.batches += 1;
        this.stats.values += r.values.length;
        this.measure_lag_(r.values);
      }
      if (!r.more) return;
      await yield_to_clients();
    }
  }
}

module.exports = { SessionQueue, WriteBatcher, ChangeFeed };

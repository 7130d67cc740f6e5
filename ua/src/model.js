'use strict';
// The shape of the address space a configuration gives, as plain data: one folder per PLC,
// one per poll record, one variable per point, each named by the host's own texts, and what
// changes between two configurations. Building UA nodes from it is address_space.js.
const { kNoRecord } = require('./points');

// NodeId texts. A variable's is its item ID ("QPLC1:D:100"); a PLC folder's the device name,
// which holds no colon; a record folder's the device name and the range as the OPC DA flat
// browse shows it ("QPLC1:D:0 - D:19"), which no item ID can look like.
function device_node_id(device) { return device.name; }
function record_node_id(device, record) { return `${device.name}:${record.range}`; }

// lists: {generation, devices, records, points} as PointsSession.list() gives them.
// Returns {folders: Map, variables: Map, skipped: [{itemId, reason}]}, both maps keyed by
// NodeId text and in configuration order.
function plan_of(lists) {
  const folders = new Map();
  const variables = new Map();
  const skipped = [];
  const deviceFolder = [];
  const recordFolder = [];
  for (const device of lists.devices) {
    const id = device_node_id(device);
    deviceFolder[device.id] = id;
    if (folders.has(id)) {
      skipped.push({ itemId: id, reason: 'a second PLC of that name' });
      continue;
    }
    folders.set(id, {
      nodeId: id, parent: null, browseName: device.name, displayName: device.description || device.name,
      description: device.description && device.description !== device.name ? device.description : '',
    });
  }
  for (const record of lists.records) {
    const device = lists.devices[record.device];
    if (!device) continue;
    const id = record_node_id(device, record);
    recordFolder[record.id] = id;
    if (folders.has(id)) continue;  // two records of one range share a folder
    folders.set(id, {
      nodeId: id, parent: deviceFolder[device.id], browseName: record.range, displayName: record.range,
      description: '',
    });
  }
  for (const point of lists.points) {
    const id = point.item_id;
    if (!id) continue;
    if (variables.has(id)) {
      // Records that overlap hold the same address twice; the host reads the first record
      // that covers it, and so does the variable.
      skipped.push({ itemId: id, reason: 'already held by an earlier poll record' });
      continue;
    }
    if (folders.has(id)) {
      skipped.push({ itemId: id, reason: 'the name of a folder' });
      continue;
    }
    const parent = point.record !== kNoRecord && recordFolder[point.record] !== undefined
      ? recordFolder[point.record] : deviceFolder[point.device];
    if (parent === undefined) {
      skipped.push({ itemId: id, reason: 'no PLC of this configuration' });
      continue;
    }
    variables.set(id, {
      nodeId: id, parent, browseName: point.name || id, pointId: point.id, type: point.type,
      writable: point.writable !== 0, analog: point.analog !== 0, euLow: point.eu_low, euHigh: point.eu_high,
      units: point.eu_units || '', textLength: point.text_length,
    });
  }
  return { generation: lists.generation, folders, variables, skipped };
}

// A variable whose node must be made again because its kind changed (type, access, units).
function same_node_kind(a, b) {
  return a.type === b.type && a.writable === b.writable && a.analog === b.analog && a.browseName === b.browseName &&
    (!a.analog || (a.euLow === b.euLow && a.euHigh === b.euHigh && a.units === b.units));
}

// What turns the address space of `before` into that of `after`: removed and added nodes
// (variables whose kind changed are in both), variables kept in another folder, folders
// whose texts changed.
function diff_plans(before, after) {
  const result = {
    removedVariables: [], addedVariables: [], movedVariables: [], keptVariables: [],
    removedFolders: [], addedFolders: [], changedFolders: [],
  };
  for (const [id, v] of before.variables) {
    const next = after.variables.get(id);
    if (!next || !same_node_kind(v, next)) result.removedVariables.push(v);
  }
  for (const [id, v] of after.variables) {
    const prev = before.variables.get(id);
    if (!prev || !same_node_kind(prev, v)) {
      result.addedVariables.push(v);
    } else {
      result.keptVariables.push(v);
      if (prev.parent !== v.parent) result.movedVariables.push({ variable: v, from: prev.parent });
    }
  }
  // A folder's NodeId names its parent (a record folder's begins with its PLC's name), so a
  // folder that stays never changes its parent.
  for (const [id, f] of before.folders) {
    if (!after.folders.has(id)) result.removedFolders.push(f);
  }
  for (const [id, f] of after.folders) {
    const prev = before.folders.get(id);
    if (!prev) result.addedFolders.push(f);
    else if (prev.displayName !== f.displayName || prev.description !== f.description) result.changedFolders.push(f);
  }
  return result;
}

const kEmptyPlan = Object.freeze({ generation: 0, folders: new Map(), variables: new Map(), skipped: [] });

module.exports = { plan_of, diff_plans, device_node_id, record_node_id, kEmptyPlan };

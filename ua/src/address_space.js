'use strict';
// The driver's part of the UA address space: folders and variables made from a plan
// (model.js), values pushed into them as the change feed brings them, and the plan of the
// next configuration applied in place, so that variables that stay keep their subscriptions.
const { AttributeIds, DataType, EUInformation, NodeId, NodeIdType, StatusCodes, Variant, standardUnits } = require('node-opcua');
const { diff_plans, kEmptyPlan } = require('./model');
const { PointType } = require('./points');
const values = require('./values');

const kUnitsNamespace = 'http://www.opcfoundation.org/UA/units/un/cefact';
// Symbols the driver's tags commonly use that are not the UNECE symbol itself.
const kUnitAliases = Object.freeze({ degC: '°C', degF: '°F', deg_C: '°C', deg_F: '°F', pct: '%', percent: '%' });

function eu_information_of(units) {
  const symbol = kUnitAliases[units] || units;
  for (const eu of Object.values(standardUnits)) {
    if (eu.displayName && eu.displayName.text === symbol) return eu;
  }
  return new EUInformation({ namespaceUri: kUnitsNamespace, unitId: -1, displayName: { text: units }, description: { text: units } });
}

class DriverAddressSpace {
  // addressSpace: the server's; namespace: the driver's (urn:hbt:driver); writer: {submit(value)
  // → Promise<hbt_write_result>}; can_write(context): whether the session's user may write.
  constructor({ addressSpace, namespace, writer, can_write, log }) {
    this.addressSpace_ = addressSpace;
    this.namespace_ = namespace;
    this.writer_ = writer;
    this.can_write_ = can_write || (() => true);
    this.log_ = log;
    this.plan_ = kEmptyPlan;
    this.folders_ = new Map();   // NodeId text → UAObject
    this.entries_ = new Map();   // NodeId text → {def, node, value, status}
    this.byPoint_ = [];          // point id of this generation → entry
  }

  node_id_(text) { return new NodeId(NodeIdType.STRING, text, this.namespace_.index); }
  get plan() { return this.plan_; }
  entry(nodeIdText) { return this.entries_.get(nodeIdText); }
  get variableCount() { return this.entries_.size; }

  // Brings the address space to `plan`. Returns the diff that was applied.
  apply_plan(plan) {
    const diff = diff_plans(this.plan_, plan);
    const objects = this.addressSpace_.rootFolder.objects;
    for (const f of diff.addedFolders) {
      const parent = f.parent === null ? objects : this.folders_.get(f.parent);
      this.folders_.set(f.nodeId, this.namespace_.addFolder(parent, {
        nodeId: this.node_id_(f.nodeId), browseName: f.browseName, displayName: f.displayName,
        description: f.description || undefined,
      }));
    }
    for (const f of diff.changedFolders) {
      const node = this.folders_.get(f.nodeId);
      node.setDisplayName(f.displayName);
      if (f.description) node.setDescription(f.description);
    }
    for (const v of diff.removedVariables) this.remove_variable_(v.nodeId);
    for (const { variable, from } of diff.movedVariables) {
      const node = this.entries_.get(variable.nodeId).node;
      node.removeReference({ referenceType: 'Organizes', isForward: false, nodeId: this.folders_.get(from).nodeId });
      node.addReference({ referenceType: 'Organizes', isForward: false, nodeId: this.folders_.get(variable.parent).nodeId });
    }
    for (const v of diff.keptVariables) this.entries_.get(v.nodeId).def = v;
    for (const v of diff.addedVariables) this.add_variable_(v);
    // Record folders come after their PLC's: the other way round, children go first.
    for (const f of [...diff.removedFolders].reverse()) this.delete_folder_(f.nodeId);
    this.byPoint_ = [];
    for (const entry of this.entries_.values()) this.byPoint_[entry.def.pointId] = entry;
    this.plan_ = plan;
    return diff;
  }

  // Pushes point values (PointsSession.changes) into their variables. The feed has already
  // held back what stayed within a point's dead band.
  set_values(pointValues) {
    for (const v of pointValues) {
      const entry = this.byPoint_[v.id];
      if (!entry) continue;
      const status = values.status_of(v.quality, v.status);
      const value = values.js_value_of(v);
      entry.value = value;
      entry.status = status;
      entry.node.setValueFromSource(new Variant({ dataType: entry.dataType, value }), status,
        v.sourceTime > 0 ? new Date(v.sourceTime) : undefined);
    }
  }

  // Every variable to one status (the driver went away), keeping its value.
  set_all_status(status) {
    for (const entry of this.entries_.values()) {
      if (entry.status === status) continue;
      entry.status = status;
      entry.node.setValueFromSource(new Variant({ dataType: entry.dataType, value: entry.value }), status);
    }
  }

  add_variable_(def) {
    const parent = this.folders_.get(def.parent);
    const dataType = values.data_type_of(def.type);
    const access = def.writable ? 'CurrentRead | CurrentWrite' : 'CurrentRead';
    const common = {
      organizedBy: parent, nodeId: this.node_id_(def.nodeId), browseName: def.browseName,
      displayName: def.browseName, accessLevel: access, userAccessLevel: access,
      // Values come as the driver reads them: a subscription needs no sampling of its own.
      minimumSamplingInterval: 0,
    };
    let node;
    if (def.analog && (def.type === PointType.DOUBLE || def.type === PointType.FLOAT)) {
      node = this.namespace_.addAnalogDataItem({
        ...common, dataType: DataType[dataType],
        engineeringUnitsRange: { low: def.euLow, high: def.euHigh },
        engineeringUnits: def.units ? eu_information_of(def.units) : undefined,
      });
    } else {
      node = this.namespace_.addVariable({ ...common, dataType: DataType[dataType] });
    }
    const entry = { def, node, dataType, value: initial_value_of(def.type), status: StatusCodes.BadWaitingForInitialData };
    node.setValueFromSource(new Variant({ dataType, value: entry.value }), entry.status);
    node.writeValue = (context, dataValue, ...rest) => this.write_(entry, context, dataValue, rest);
    this.entries_.set(def.nodeId, entry);
  }

  // A removed variable tells its subscribers BadNodeIdUnknown and then leaves the address
  // space; its monitored items keep that last word instead of a generic "node deleted", so a
  // client sees the same status a fresh read of the NodeId now gives.
  remove_variable_(nodeIdText) {
    const entry = this.entries_.get(nodeIdText);
    if (!entry) return;
    entry.removed = true;
    entry.status = StatusCodes.BadNodeIdUnknown;
    entry.node.setValueFromSource(new Variant({ dataType: entry.dataType, value: entry.value }), StatusCodes.BadNodeIdUnknown);
    entry.node.removeAllListeners('dispose');
    this.addressSpace_.deleteNode(entry.node);
    this.entries_.delete(nodeIdText);
  }

  delete_folder_(nodeIdText) {
    const node = this.folders_.get(nodeIdText);
    if (!node) return;
    this.addressSpace_.deleteNode(node);
    this.folders_.delete(nodeIdText);
  }

  // The Write service on one of our variables: the value goes to the driver's write path,
  // never into the variable itself, which shows what the PLC holds once it is read back.
  write_(entry, context, dataValue, rest) {
    const callback = rest[rest.length - 1];
    const indexRange = rest.length >= 2 ? rest[0] : null;
    if (typeof callback !== 'function') throw new Error('writeValue needs a callback');
    this.submit_write_(entry, context, dataValue, indexRange).then((status) => callback(null, status));
    return undefined;
  }

  // The values of one Write request that go to our variables, all handed to the driver
  // together: one promise of a StatusCode per such value, undefined for the others (nodes of
  // other namespaces, other attributes), which the SDK writes as usual.
  claim_writes(context, nodesToWrite) {
    return nodesToWrite.map((w) => {
      if (!w || w.attributeId !== AttributeIds.Value || !w.nodeId || w.nodeId.namespace !== this.namespace_.index ||
          typeof w.nodeId.value !== 'string') {
        return undefined;
      }
      const entry = this.entries_.get(w.nodeId.value);
      if (!entry) return undefined;
      return this.submit_write_(entry, context, w.value, w.indexRange);
    });
  }

  async submit_write_(entry, context, dataValue, indexRange) {
    if (entry.removed) return StatusCodes.BadNodeIdUnknown;
    if (indexRange && typeof indexRange.isEmpty === 'function' && !indexRange.isEmpty()) {
      return StatusCodes.BadWriteNotSupported;
    }
    if (!entry.def.writable) return StatusCodes.BadNotWritable;
    if (!this.can_write_(context)) return StatusCodes.BadUserAccessDenied;
    const converted = values.write_value_of({ ...entry.def, id: entry.def.pointId }, dataValue && dataValue.value);
    if (converted.status) return converted.status;
    try {
      return values.write_status_of(await this.writer_.submit(converted.value), converted.clamped);
    } catch (err) {
      this.log_.warn(`write of ${entry.def.nodeId} failed: ${err.message}`);
      return StatusCodes.BadCommunicationError;
    }
  }
}

function initial_value_of(type) {
  if (type === PointType.BOOL) return false;
  if (type === PointType.STRING) return '';
  return 0;
}

module.exports = { DriverAddressSpace, eu_information_of };

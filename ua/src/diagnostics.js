'use strict';
// Objects/Diagnostics: the driver's state, one folder per channel with its traffic counters,
// and the driver's recent messages (a text array, and an event on the Diagnostics object for
// each new one). Refreshed from the points session once a period.
const { DataType, NodeId, NodeIdType, StatusCodes, Variant } = require('node-opcua');

const kMessagesKept = 100;
// What the driver reports is for reading only (the SDK makes variables writable otherwise).
const kReadOnly = Object.freeze({ accessLevel: 'CurrentRead', userAccessLevel: 'CurrentRead' });

// OPC UA event severities (1..1000) of the driver's message colour codes.
function severity_of(colour) {
  switch (colour) {
    case 0x47: return 900;  // severe
    case 0x46: return 700;  // error
    case 0x50: return 500;  // warning
    case 0x27: return 300;  // notice
    default: return 100;    // normal, information
  }
}

const kDriverVariables = Object.freeze([
  ['Running', DataType.Boolean, (s) => s.running],
  ['Stalled', DataType.Boolean, (s) => s.stalled],
  ['StatusText', DataType.String, (s) => s.statusText],
  ['ConfigFile', DataType.String, (s) => s.configPath],
  ['Generation', DataType.UInt32, (s) => s.generation],
  ['DeviceCount', DataType.UInt32, (s) => s.deviceCount],
  ['RecordCount', DataType.UInt32, (s) => s.recordCount],
  ['PointCount', DataType.UInt32, (s) => s.pointCount],
]);

const kChannelVariables = Object.freeze([
  ['Address', DataType.String, (c) => c.address],
  ['InService', DataType.Boolean, (c) => c.inService],
  ['Tcp', DataType.Boolean, (c) => c.tcp],
  ['OnBackup', DataType.Boolean, (c) => c.onBackup],
  ['TX', DataType.UInt32, (c) => c.requestsSent],
  ['RX', DataType.UInt32, (c) => c.repliesReceived],
  ['PollsPerSecond', DataType.Double, (c) => c.pollsPerSecond],
  ['Timeouts', DataType.UInt32, (c) => c.replyTimeouts],
  ['Retries', DataType.UInt32, (c) => c.retries],
  ['RejectedReplies', DataType.UInt32, (c) => c.rejectedReplies],
  ['AbnormalCodes', DataType.UInt32, (c) => c.abnormalCodes],
  ['LastError', DataType.String, (c) => (c.lastEndCode ? `end code 0x${c.lastEndCode.toString(16).toUpperCase().padStart(4, '0')}` : '')],
  ['DeviceCount', DataType.UInt32, (c) => c.deviceCount],
  ['RecordCount', DataType.UInt32, (c) => c.recordCount],
]);

// The service's own figures over the last period.
const kServiceVariables = Object.freeze([
  ['Variables', DataType.UInt32, (f) => f.variables],
  ['ValuesPerSecond', DataType.Double, (f) => f.valuesPerSecond],
  ['FeedLagMs', DataType.Double, (f) => f.lagMs],
  ['FeedLagMaxMs', DataType.Double, (f) => f.lagMaxMs],
  ['Reloads', DataType.UInt32, (f) => f.reloads],
]);

class Diagnostics {
  // feed: the ChangeFeed (its take_window() figures); variables(): how many the address
  // space holds.
  constructor({ addressSpace, namespace, session, queue, log, periodMs = 1000, feed = null, variables = () => 0 }) {
    this.addressSpace_ = addressSpace;
    this.ns_ = namespace;
    this.session_ = session;
    this.queue_ = queue;
    this.log_ = log;
    this.periodMs_ = periodMs;
    this.messageCursor_ = 0n;
    this.messages_ = [];
    this.channels_ = new Map();  // channel number → {folder, variables}
    this.timer_ = null;
    this.failed_ = false;
    this.root_ = namespace.addObject({
      organizedBy: addressSpace.rootFolder.objects, nodeId: this.id_('Diagnostics'), browseName: 'Diagnostics',
      typeDefinition: 'FolderType', eventNotifier: 1,
    });
    this.driverFolder_ = namespace.addFolder(this.root_, { nodeId: this.id_('Diagnostics/Driver'), browseName: 'Driver' });
    this.driver_ = this.add_variables_(this.driverFolder_, 'Diagnostics/Driver', kDriverVariables);
    this.feed_ = feed;
    this.variables_ = variables;
    this.serviceFolder_ = namespace.addFolder(this.root_, { nodeId: this.id_('Diagnostics/Service'), browseName: 'Service' });
    this.service_ = this.add_variables_(this.serviceFolder_, 'Diagnostics/Service', kServiceVariables);
    this.channelsFolder_ = namespace.addFolder(this.root_, { nodeId: this.id_('Diagnostics/Channels'), browseName: 'Channels' });
    this.messagesNode_ = namespace.addVariable({
      componentOf: this.root_, nodeId: this.id_('Diagnostics/Messages'), browseName: 'Messages',
      dataType: 'String', valueRank: 1, minimumSamplingInterval: 0, ...kReadOnly,
    });
    this.messagesNode_.setValueFromSource(new Variant({ dataType: DataType.String, arrayType: 1, value: [] }));
    this.addressSpace_.rootFolder.objects.server.addReference({ referenceType: 'HasNotifier', nodeId: this.root_ });
  }

  id_(text) { return new NodeId(NodeIdType.STRING, text, this.ns_.index); }

  add_variables_(parent, prefix, table) {
    const nodes = [];
    for (const [name, dataType, read] of table) {
      const node = this.ns_.addVariable({
        componentOf: parent, nodeId: this.id_(`${prefix}/${name}`), browseName: name, dataType: DataType[dataType],
        minimumSamplingInterval: 0, ...kReadOnly,
      });
      node.setValueFromSource(new Variant({ dataType, value: dataType === DataType.String ? '' : dataType === DataType.Boolean ? false : 0 }),
        StatusCodes.BadWaitingForInitialData);
      nodes.push({ node, dataType, read, last: undefined });
    }
    return nodes;
  }

  start() {
    const tick = () => {
      this.queue_.run(() => this.refresh()).catch((err) => {
        if (!this.failed_) this.log_.warn(`diagnostics: ${err.message}`);
        this.failed_ = true;
      }).finally(() => {
        if (this.timer_ !== null) this.timer_ = setTimeout(tick, this.periodMs_);
      });
    };
    this.timer_ = setTimeout(tick, 0);
  }

  stop() {
    if (this.timer_) clearTimeout(this.timer_);
    this.timer_ = null;
  }

  // One look at the session: state, channels, new messages.
  refresh() {
    const state = this.session_.state();
    this.set_all_(this.driver_, state);
    this.refresh_channels_(this.session_.channels());
    const { cursor, messages } = this.session_.messages(this.messageCursor_);
    this.messageCursor_ = cursor;
    if (messages.length) this.add_messages_(messages);
    if (this.feed_) this.set_all_(this.service_, { ...this.feed_.take_window(), variables: this.variables_() });
    this.failed_ = false;
  }

  set_all_(nodes, source) {
    for (const v of nodes) {
      const value = v.read(source);
      if (value === v.last) continue;
      v.last = value;
      v.node.setValueFromSource(new Variant({ dataType: v.dataType, value }));
    }
  }

  refresh_channels_(channels) {
    const seen = new Set();
    for (const c of channels) {
      seen.add(c.channel);
      let entry = this.channels_.get(c.channel);
      if (!entry) {
        const prefix = `Diagnostics/Channels/Channel ${c.channel}`;
        const folder = this.ns_.addFolder(this.channelsFolder_, { nodeId: this.id_(prefix), browseName: `Channel ${c.channel}` });
        entry = { folder, variables: this.add_variables_(folder, prefix, kChannelVariables) };
        this.channels_.set(c.channel, entry);
      }
      this.set_all_(entry.variables, c);
    }
    // A channel the new configuration no longer uses leaves with its folder.
    for (const [number, entry] of this.channels_) {
      if (seen.has(number)) continue;
      for (const v of entry.variables) this.addressSpace_.deleteNode(v.node);
      this.addressSpace_.deleteNode(entry.folder);
      this.channels_.delete(number);
    }
  }

  add_messages_(messages) {
    for (const m of messages) {
      this.messages_.push(m.text);
      try {
        this.root_.raiseEvent('BaseEventType', {
          message: { dataType: DataType.LocalizedText, value: { text: m.text } },
          severity: { dataType: DataType.UInt16, value: severity_of(m.colour) },
          sourceName: { dataType: DataType.String, value: 'HBT' },
        });
      } catch (err) {
        this.log_.debug(`event for a driver message: ${err.message}`);
      }
    }
    if (this.messages_.length > kMessagesKept) this.messages_.splice(0, this.messages_.length - kMessagesKept);
    this.messagesNode_.setValueFromSource(new Variant({ dataType: DataType.String, arrayType: 1, value: [...this.messages_] }));
  }
}

module.exports = { Diagnostics, severity_of };

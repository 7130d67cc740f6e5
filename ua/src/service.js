'use strict';
// The service put together: the UA server, the driver's address space over a points
// session, the change feed and the diagnostics, started and stopped as one.
const { DriverAddressSpace } = require('./address_space');
const { ChangeFeed, SessionQueue, WriteBatcher } = require('./feed');
const { Diagnostics } = require('./diagnostics');
const { create_server, make_write_check, start_listening } = require('./server');

// The SDK writes the values of one Write request one after another, each waiting for the
// last; the driver's values of a request go to the driver together instead, in one call, and
// the SDK writes the rest.
function batch_writes(engine, space) {
  const write = engine.write.bind(engine);
  engine.write = async (context, nodesToWrite) => {
    const ours = space.claim_writes(context, nodesToWrite);
    const others = nodesToWrite.filter((_, i) => ours[i] === undefined);
    const otherResults = others.length ? await write(context, others) : [];
    const results = await Promise.all(ours);
    let k = 0;
    return results.map((r) => (r === undefined ? otherResults[k++] : r));
  };
}

// session: a PointsSession (or anything with its calls); users: a UserBook or null.
async function start_service(settings, { session, users, log, diagnosticsMs = 1000 }) {
  const started = Date.now();
  const { server, namespace } = await create_server(settings, { users, log });
  const queue = new SessionQueue();
  const space = new DriverAddressSpace({
    addressSpace: server.engine.addressSpace, namespace, writer: new WriteBatcher(queue, session),
    can_write: make_write_check(users, settings), log,
  });
  batch_writes(server.engine, space);
  const feed = new ChangeFeed({
    session, queue, space, log, waitMs: settings.wait_ms || 20,
    onReload: (plan, diff) => log.info(`configuration ${plan.generation}: ${plan.folders.size} folders, ` +
      `${plan.variables.size} variables (${diff.addedVariables.length} added, ${diff.removedVariables.length} removed)`),
  });
  let diagnostics = null;
  try {
    await feed.load();
    diagnostics = new Diagnostics({
      addressSpace: server.engine.addressSpace, namespace, session, queue, log, periodMs: diagnosticsMs,
      feed, variables: () => space.variableCount,
    });
    const port = await start_listening(server, settings.port);
    feed.start();
    diagnostics.start();
    return {
      server, namespace, space, feed, diagnostics, queue, port,
      endpointUrl: server.getEndpointUrl(),
      readyMs: Date.now() - started,
      async stop() {
        diagnostics.stop();
        await feed.stop();
        await server.shutdown(settings.shutdown_ms ?? 500);
      },
    };
  } catch (err) {
    if (diagnostics) diagnostics.stop();
    await feed.stop();
    await server.shutdown(0).catch(() => {});
    throw err;
  }
}

module.exports = { start_service };

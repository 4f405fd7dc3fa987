// The SDK on both sides of the bridge: an SDK client on the bridge's
// standard streams and an SDK server behind the app's socket. Everything
// the two say to each other goes through the bridge unchanged: tool calls,
// progress, the server's own requests to the client and cancellations; and
// when the app quits and comes back, the session goes on.

import assert from 'node:assert/strict';

import {
  REQUEST, closeAndExpectCleanExit, connectBridge, sdk, sdkTest, signal, socketPath, tempHome,
  within,
} from './harness.mjs';
import { startApp } from './sdk_app.mjs';

const CLOSED_CONNECTION =
    'Harlo closed the connection (MCP was turned off or Harlo quit). Try again.';

// The name the stand-in app gives itself, unlike the bridge's own "Harlo":
// an answer carrying it came from the app.
const APP_INFO = { name: 'Harlo stand-in', version: '0.10.0' };

// An SDK server for one connection with run_select, which answers with the
// statement it was given; `register(server, connection)` adds more tools.
function appServer(register = () => {}) {
  const { McpServer, z } = sdk;
  return (connection) => {
    const server = new McpServer(APP_INFO);
    server.registerTool('run_select', {
      description: 'Runs one read-only statement.',
      inputSchema: { connection_id: z.string(), sql: z.string() },
    }, async ({ connection_id, sql }) => ({
      content: [{ type: 'text', text: `${connection_id}: rows of ${sql}` }],
    }));
    register(server, connection);
    return server;
  };
}

// A bridge under a fresh HOME with the stand-in app already listening, and
// an SDK client connected through both.
async function relayedSession(t, makeServer, clientOptions, setupClient) {
  const home = tempHome(t);
  const app = await startApp(socketPath(home), makeServer);
  t.after(() => app.stop());
  const session = await connectBridge(t, home, clientOptions, setupClient);
  return { app, session, client: session.client };
}

function runSelect(sql) {
  return { name: 'run_select', arguments: { connection_id: 'c1', sql } };
}

sdkTest('tool calls are relayed between the SDK client and the SDK server', async (t) => {
  const { app, session, client } = await relayedSession(t, appServer());

  // The opening exchange reached the app: the answer is the app's own.
  assert.deepEqual(client.getServerVersion(), APP_INFO);
  const connection = await app.connection(0);
  assert.equal(connection.handshake, '{"harlo":"0.10.0"}');

  const { tools } = await within(client.listTools(undefined, REQUEST), 'tools/list');
  assert.deepEqual(tools.map((tool) => tool.name), ['run_select']);
  const result = await within(client.callTool(runSelect('select 1'), undefined, REQUEST),
                              'tools/call');
  assert.deepEqual(result.content, [{ type: 'text', text: 'c1: rows of select 1' }]);
  assert.equal(result.isError, undefined);

  // The app saw the client's lines as the client sent them, on one link.
  assert.deepEqual(connection.methods(),
                   ['initialize', 'notifications/initialized', 'tools/list', 'tools/call']);
  const [initialize] = connection.received;
  assert.equal(initialize.id, 0);
  assert.equal(initialize.params.protocolVersion, '2025-11-25');
  assert.deepEqual(connection.received[3].params, runSelect('select 1'));

  assert.deepEqual(session.errors, []);
  await closeAndExpectCleanExit(session);
});

sdkTest('progress notifications from the app reach the client during the call', async (t) => {
  // The SDK client handles a notification a tick later than a response, so
  // progress that arrives together with the result is dropped as late. The
  // tool therefore sends each step only after the client saw the one
  // before, and answers after the client saw the last.
  const shown = [1, 2, 3].map(() => signal());
  const tokens = [];
  const makeServer = appServer((server) => {
    server.registerTool('sample_rows', { description: 'Reports progress three times.' },
                        async (extra) => {
      const token = extra._meta?.progressToken;
      tokens.push(token);
      for (let step = 1; step <= 3; ++step) {
        await extra.sendNotification({
          method: 'notifications/progress',
          params: { progressToken: token, progress: step, total: 3, message: `step ${step}` },
        });
        await within(shown[step - 1].promise, `the client to see progress ${step}`);
      }
      return { content: [{ type: 'text', text: 'sampled' }] };
    });
  });
  const { session, client } = await relayedSession(t, makeServer);

  const seen = [];
  const onprogress = (progress) => {
    seen.push(progress);
    shown[progress.progress - 1]?.resolve();
  };
  const result = await within(client.callTool({ name: 'sample_rows', arguments: {} }, undefined,
                                              { ...REQUEST, onprogress }),
                              'tools/call with progress');
  assert.deepEqual(result.content, [{ type: 'text', text: 'sampled' }]);
  // The client asked for progress with a token, and the app got it.
  assert.equal(tokens.length, 1);
  assert.notEqual(tokens[0], undefined);
  assert.deepEqual(seen, [1, 2, 3].map((step) => ({
    progress: step, total: 3, message: `step ${step}`,
  })));

  assert.deepEqual(session.errors, []);
  await closeAndExpectCleanExit(session);
});

sdkTest('a request from the app is answered by the client through the bridge', async (t) => {
  const makeServer = appServer((server) => {
    server.registerTool('list_connections', { description: 'Lists the roots it was given.' },
                        async () => {
      const { roots } = await server.server.listRoots(undefined, REQUEST);
      return { content: [{ type: 'text', text: roots.map((root) => root.uri).join(' ') }] };
    });
  });
  const asked = [];
  const { session, client } = await relayedSession(
      t, makeServer, { capabilities: { roots: {} } }, (client) => {
        client.setRequestHandler(sdk.ListRootsRequestSchema, (request) => {
          asked.push(request);
          return { roots: [{ uri: 'file:///work/reports', name: 'reports' }] };
        });
      });

  const result = await within(
      client.callTool({ name: 'list_connections', arguments: {} }, undefined, REQUEST),
      'tools/call that asks the client for its roots');
  assert.deepEqual(result.content, [{ type: 'text', text: 'file:///work/reports' }]);
  assert.equal(asked.length, 1);
  assert.equal(asked[0].method, 'roots/list');

  assert.deepEqual(session.errors, []);
  await closeAndExpectCleanExit(session);
});

sdkTest('a call the client aborts is cancelled on the app side', async (t) => {
  const started = signal();
  const cancelled = signal();
  const makeServer = appServer((server) => {
    server.registerTool('run_command', { description: 'Waits until it is cancelled.' },
                        async (extra) => {
      started.resolve(extra.requestId);
      await new Promise((resolve) => extra.signal.addEventListener('abort', resolve));
      cancelled.resolve(extra.signal.reason);
      return { content: [{ type: 'text', text: 'too late' }] };
    });
  });
  const { app, session, client } = await relayedSession(t, makeServer);

  const abort = new AbortController();
  const call = client.callTool({ name: 'run_command', arguments: {} }, undefined,
                               { ...REQUEST, signal: abort.signal });
  const requestId = await within(started.promise, 'the app to start the call');
  abort.abort('the user stopped it');
  await assert.rejects(within(call, 'the aborted call'));
  await within(cancelled.promise, 'the app to see the cancellation');

  const connection = await app.connection(0);
  const cancellation = connection.received.find(
      (message) => message.method === 'notifications/cancelled');
  assert.deepEqual(cancellation.params, { requestId, reason: 'the user stopped it' });

  // The session goes on after the cancellation.
  const result = await within(client.callTool(runSelect('select 2'), undefined, REQUEST),
                              'a call after the cancellation');
  assert.deepEqual(result.content, [{ type: 'text', text: 'c1: rows of select 2' }]);

  assert.deepEqual(session.errors, []);
  await closeAndExpectCleanExit(session);
});

sdkTest('the app quits during a call and comes back: the session goes on', async (t) => {
  const home = tempHome(t);
  const started = signal();
  const hangingApp = appServer((server) => {
    server.registerTool('propose_change', { description: 'Never answers.' }, async () => {
      started.resolve();
      return new Promise(() => {});
    });
  });
  const first = await startApp(socketPath(home), hangingApp);
  t.after(() => first.stop());
  const session = await connectBridge(t, home);
  const { client } = session;

  const call = client.callTool({ name: 'propose_change', arguments: {} }, undefined, REQUEST);
  await within(started.promise, 'the app to start the call');
  const opening = (await first.connection(0)).received.slice(0, 2);
  await first.stop();

  await assert.rejects(within(call, 'the call in flight when the app quit'), (error) => {
    assert.ok(error instanceof sdk.McpError, `not an McpError: ${error}`);
    assert.equal(error.code, -32000);
    assert.equal(error.message, `MCP error -32000: ${CLOSED_CONNECTION}`);
    return true;
  });

  const second = await startApp(socketPath(home), appServer());
  t.after(() => second.stop());
  const result = await within(client.callTool(runSelect('select 3'), undefined, REQUEST),
                              'the first call after the app came back');
  assert.deepEqual(result.content, [{ type: 'text', text: 'c1: rows of select 3' }]);

  // The new connection opened with the client's own initialize request and
  // initialized notification, replayed as first sent; the app's answer to
  // the replay was kept from the client (which would report a response it
  // cannot match in session.errors).
  const reconnection = await second.connection(0);
  assert.equal(reconnection.handshake, '{"harlo":"0.10.0"}');
  assert.deepEqual(reconnection.methods(),
                   ['initialize', 'notifications/initialized', 'tools/call']);
  assert.deepEqual(reconnection.received.slice(0, 2), opening);
  assert.equal(reconnection.received[0].id, 0);

  assert.deepEqual(session.errors, []);
  await closeAndExpectCleanExit(session);
});

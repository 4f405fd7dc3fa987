// What the SDK's stdio client does to the server it starts, written down by
// a fake server. The bridge relies on each of these habits: the opening
// request carries a present id (0), the requested protocol version is one the
// bridge negotiates, TMPDIR is not passed on (the socket path's fallback
// then uses the system's temporary directory), and closing ends standard
// input before any signal.

import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import {
  REQUEST, closeAndExpectCleanExit, connectBridge, sdk, sdkTest, tempHome, within,
} from './harness.mjs';

const RECORDING_SERVER = path.join(path.dirname(fileURLToPath(import.meta.url)),
                                   'recording_server.mjs');

// The variables the SDK passes on by default, and nothing else.
const INHERITED = ['HOME', 'LOGNAME', 'PATH', 'SHELL', 'TERM', 'USER'];

function readLog(logFile) {
  if (!existsSync(logFile)) return [];
  return readFileSync(logFile, 'utf8').trim().split('\n').map((line) => JSON.parse(line));
}

sdkTest('what the SDK client does to the server it starts', async (t) => {
  const logFile = path.join(tempHome(t), 'events.log');

  // Variables the server must not see, set in the client's own environment.
  const saved = {
    TMPDIR: process.env.TMPDIR,
    HARLO_INTEROP_MARKER: process.env.HARLO_INTEROP_MARKER,
  };
  process.env.TMPDIR = '/tmp/harlo-interop-tmpdir';
  process.env.HARLO_INTEROP_MARKER = 'client-only';
  const transport = new sdk.StdioClientTransport({
    command: process.execPath,
    args: [RECORDING_SERVER, logFile],
  });
  const client = new sdk.Client({ name: 'harlo-interop-test', version: '1.0.0' });
  try {
    await within(client.connect(transport, REQUEST), 'initialize with the recording server');
    await within(client.ping(REQUEST), 'ping the recording server');
  } finally {
    for (const [name, value] of Object.entries(saved)) {
      if (value === undefined) delete process.env[name];
      else process.env[name] = value;
    }
  }
  let closed = false;
  t.after(() => closed || client.close());

  await t.test('the first request is initialize with id 0, asking for 2025-11-25', () => {
    const lines = readLog(logFile).filter((e) => e.event === 'line').map((e) => JSON.parse(e.line));
    assert.ok(lines.length >= 3, `too few lines: ${JSON.stringify(lines)}`);
    const [initialize, initialized, ping] = lines;
    assert.equal(initialize.jsonrpc, '2.0');
    assert.equal(initialize.method, 'initialize');
    assert.ok(Object.hasOwn(initialize, 'id'), 'the initialize request carries an id');
    assert.equal(initialize.id, 0);
    assert.equal(initialize.params.protocolVersion, '2025-11-25');
    assert.equal(initialize.params.protocolVersion, sdk.LATEST_PROTOCOL_VERSION);
    assert.deepEqual(initialize.params.clientInfo,
                     { name: 'harlo-interop-test', version: '1.0.0' });
    assert.deepEqual(initialized, { jsonrpc: '2.0', method: 'notifications/initialized' });
    assert.equal(ping.method, 'ping');
    assert.equal(ping.id, 1);
  });

  await t.test('the server gets only HOME, LOGNAME, PATH, SHELL, TERM and USER', () => {
    const [first] = readLog(logFile);
    assert.equal(first.event, 'env');
    assert.deepEqual(sdk.DEFAULT_INHERITED_ENV_VARS, INHERITED);
    const expected = {};
    for (const name of INHERITED) {
      if (process.env[name] !== undefined) expected[name] = process.env[name];
    }
    assert.deepEqual(first.env, expected);
    assert.equal(first.env.TMPDIR, undefined);
  });

  await t.test('closing ends standard input, then sends SIGTERM about 2 s later', async () => {
    await within(client.close(), 'closing the client');
    closed = true;
    const events = readLog(logFile).filter((e) => e.event !== 'line' && e.event !== 'env');
    assert.deepEqual(events.map((e) => e.event), ['stdin-end', 'SIGTERM']);
    // The grace period a server has to exit by itself on end of input.
    const grace = events[1].at - events[0].at;
    assert.ok(grace >= 1500, `SIGTERM came ${grace} ms after the end of standard input`);
  });
});

sdkTest('the bridge exits on the end of standard input, without the signal', async (t) => {
  const session = await connectBridge(t, tempHome(t));
  await within(session.client.listTools(undefined, REQUEST), 'tools/list');
  await closeAndExpectCleanExit(session);
});

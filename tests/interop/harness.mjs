// What the interop tests share: loading the MCP TypeScript SDK (or saying
// why the tests are skipped), a temporary HOME, an SDK client on the real
// bridge, and deadlines on every wait.
//
// Environment: HARLO_MCP_BINARY is the bridge to run (ctest sets it).

import assert from 'node:assert/strict';
import { mkdtempSync, rmSync } from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

// Every wait in these tests ends after this long, so that a hang fails fast
// instead of stalling CI. Generous: the sanitizer build is slow.
export const DEADLINE_MS = 20_000;

// Per-test limit for node:test: a few deadlines' worth.
export const TEST_TIMEOUT_MS = 4 * DEADLINE_MS;

// ctest marks a test as skipped when its output holds this text (see
// SKIP_REGULAR_EXPRESSION in tests/CMakeLists.txt).
export const SKIP_MARK = 'interop tests skipped';

// The SDK modules the tests use, or null with `skipReason` set when the SDK
// is not installed (npm ci --prefix tests/interop was not run).
export let sdk = null;
export let skipReason;

try {
  const [client, stdio, mcp, types, shared] = await Promise.all([
    import('@modelcontextprotocol/sdk/client/index.js'),
    import('@modelcontextprotocol/sdk/client/stdio.js'),
    import('@modelcontextprotocol/sdk/server/mcp.js'),
    import('@modelcontextprotocol/sdk/types.js'),
    import('@modelcontextprotocol/sdk/shared/stdio.js'),
  ]);
  const { z } = await import('zod');
  sdk = {
    Client: client.Client,
    StdioClientTransport: stdio.StdioClientTransport,
    DEFAULT_INHERITED_ENV_VARS: stdio.DEFAULT_INHERITED_ENV_VARS,
    McpServer: mcp.McpServer,
    McpError: types.McpError,
    ListRootsRequestSchema: types.ListRootsRequestSchema,
    LATEST_PROTOCOL_VERSION: types.LATEST_PROTOCOL_VERSION,
    ReadBuffer: shared.ReadBuffer,
    serializeMessage: shared.serializeMessage,
    z,
  };
} catch (error) {
  if (error?.code !== 'ERR_MODULE_NOT_FOUND') throw error;
  skipReason = `${SKIP_MARK}: the MCP TypeScript SDK is not installed ` +
               '(run npm ci --prefix tests/interop)';
  console.log(skipReason);
}

// The bridge binary under test.
export function bridgeBinary() {
  const binary = process.env.HARLO_MCP_BINARY;
  assert.ok(binary, 'HARLO_MCP_BINARY must name the harlo-mcp binary to test');
  return binary;
}

// A fresh, short home directory (the app's socket path must stay within 100
// bytes), removed when the test ends.
export function tempHome(t) {
  const home = mkdtempSync('/tmp/harlo-interop-');
  t.after(() => rmSync(home, { recursive: true, force: true }));
  return home;
}

// Where the bridge looks for the app's socket under `home`.
export function socketPath(home) {
  return path.join(home, 'Library', 'Application Support', 'Harlo', 'mcp.sock');
}

// Resolves with `promise`, or rejects once DEADLINE_MS have passed, naming
// `what` was awaited.
export function within(promise, what, ms = DEADLINE_MS) {
  let timer;
  const deadline = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what}: nothing within ${ms} ms`)), ms);
  });
  return Promise.race([promise, deadline]).finally(() => clearTimeout(timer));
}

// A promise with its resolve function, for "the app got this far" signals.
export function signal() {
  let resolve;
  const promise = new Promise((r) => { resolve = r; });
  return { promise, resolve };
}

// Request options for every SDK call: the SDK's own timeout as the deadline.
export const REQUEST = { timeout: DEADLINE_MS };

// Sanitizer settings of the asan build, which the SDK's default environment
// would drop; passed on so that the bridge fails under them as it does in
// the other tests.
function sanitizerEnvironment() {
  const env = {};
  for (const name of ['ASAN_OPTIONS', 'UBSAN_OPTIONS', 'LSAN_OPTIONS', 'TSAN_OPTIONS']) {
    if (process.env[name] !== undefined) env[name] = process.env[name];
  }
  return env;
}

// An SDK client connected to the real bridge, started by the SDK's stdio
// transport under `home`. Returns { client, transport, errors, exit,
// protocolVersion(), close() }:
// - errors collects what the client reports through onerror (responses it
//   cannot match, unreadable lines); a healthy session leaves it empty;
// - exit resolves with { code, signal } when the bridge process exits;
// - close() closes the client the SDK's way (end stdin, SIGTERM after 2 s)
//   and resolves with the bridge's exit; it is also run when the test ends.
export async function connectBridge(t, home, clientOptions = {}, setup = () => {}) {
  const { Client, StdioClientTransport } = sdk;
  const transport = new StdioClientTransport({
    command: bridgeBinary(),
    env: { HOME: home, ...sanitizerEnvironment() },
  });
  let protocolVersion;
  // The client hands the negotiated version to transports that want it.
  transport.setProtocolVersion = (version) => { protocolVersion = version; };

  const client = new Client({ name: 'harlo-interop-test', version: '1.0.0' }, clientOptions);
  const errors = [];
  client.onerror = (error) => errors.push(error);
  setup(client);

  // The spawned process is kept only privately by the transport; take it
  // when it appears so that its exit can be checked.
  const originalStart = transport.start.bind(transport);
  let exit;
  transport.start = async () => {
    await originalStart();
    const child = transport._process;
    assert.ok(child, 'the SDK transport keeps its child process in _process');
    exit = new Promise((resolve) => {
      child.once('exit', (code, signalName) => resolve({ code, signal: signalName }));
    });
  };

  await within(client.connect(transport, REQUEST), 'initialize through the bridge');

  let closed;
  const close = () => {
    closed ??= client.close().then(() => within(exit, 'the bridge to exit'));
    return closed;
  };
  t.after(close);
  return { client, transport, errors, exit, protocolVersion: () => protocolVersion, close };
}

// Closes the client and asserts that the bridge exited on its own with
// status 0 when its standard input ended, before the SDK's SIGTERM.
export async function closeAndExpectCleanExit(session) {
  const status = await session.close();
  assert.deepEqual(status, { code: 0, signal: null },
                   'the bridge exits with status 0 when its standard input ends');
}

// Registers `fn` as a test, or as a skipped one when the SDK is missing.
export function sdkTest(name, fn) {
  test(name, { timeout: TEST_TIMEOUT_MS, skip: skipReason ?? false }, fn);
}

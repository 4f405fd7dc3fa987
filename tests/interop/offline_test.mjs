// The SDK client on the real bridge while the app is closed: the bridge
// answers the opening exchange itself, and the SDK accepts what it says.

import assert from 'node:assert/strict';

import {
  REQUEST, closeAndExpectCleanExit, connectBridge, sdk, sdkTest, tempHome, within,
} from './harness.mjs';

const MCP_TURNED_OFF = 'MCP is turned off in Harlo. Turn it on in Settings → MCP and try again.';
const NOT_RUNNING = 'Harlo is not running. Open Harlo and turn on Settings → MCP.';

// Asserts that `promise` rejects with the bridge's user-facing error: code
// -32000 and exactly `message` (the SDK prefixes it with the code).
async function assertBridgeError(promise, message) {
  await assert.rejects(within(promise, 'an error reply'), (error) => {
    assert.ok(error instanceof sdk.McpError, `not an McpError: ${error}`);
    assert.equal(error.code, -32000);
    assert.equal(error.message, `MCP error -32000: ${message}`);
    assert.equal(error.data, undefined);
    return true;
  });
}

sdkTest('the SDK client starts up against the bridge with no app', async (t) => {
  const session = await connectBridge(t, tempHome(t));
  const { client } = session;

  assert.deepEqual(client.getServerVersion(), { name: 'Harlo', version: '0.10.0' });
  assert.deepEqual(client.getServerCapabilities(), { tools: {} });
  assert.match(client.getInstructions() ?? '',
               /^Access to the database connections the user has opened to AI tools in Harlo\. /);
  // The client asked for its newest version, which the bridge supports.
  assert.equal(session.protocolVersion(), sdk.LATEST_PROTOCOL_VERSION);

  // The SDK checks the listing against its own schema before handing it out.
  const { tools, nextCursor } = await within(client.listTools(undefined, REQUEST), 'tools/list');
  assert.equal(nextCursor, undefined);
  const names = tools.map((tool) => tool.name);
  assert.equal(names.length, 10);
  assert.equal(new Set(names).size, 10, `tool names repeat: ${names}`);
  for (const name of ['list_connections', 'describe_table', 'run_select', 'propose_change']) {
    assert.ok(names.includes(name), `${name} missing from ${names}`);
  }
  for (const tool of tools) {
    assert.equal(tool.inputSchema.type, 'object', tool.name);
  }
  const runSelect = tools.find((tool) => tool.name === 'run_select');
  assert.deepEqual(runSelect.inputSchema.required, ['connection_id', 'sql']);

  assert.deepEqual(await within(client.ping(REQUEST), 'ping'), {});
  assert.deepEqual(session.errors, []);
  await closeAndExpectCleanExit(session);
});

sdkTest('requests that need the app are refused with the sentence to show', async (t) => {
  const session = await connectBridge(t, tempHome(t));
  const { client } = session;

  // No preferences file: MCP counts as switched off, so no start is tried.
  await assertBridgeError(
      client.callTool({ name: 'list_connections', arguments: {} }, undefined, REQUEST),
      MCP_TURNED_OFF);
  await assertBridgeError(
      client.callTool({ name: 'run_select', arguments: { connection_id: 'c1', sql: 'select 1' } },
                      undefined, REQUEST),
      MCP_TURNED_OFF);
  // Not strict about capabilities by default, the SDK sends what the
  // server did not advertise, and the bridge says why it cannot answer.
  await assertBridgeError(client.listResources(undefined, REQUEST), NOT_RUNNING);

  // The refusals leave the session usable.
  assert.deepEqual(await within(client.ping(REQUEST), 'ping after the refusals'), {});
  assert.deepEqual(session.errors, []);
  await closeAndExpectCleanExit(session);
});

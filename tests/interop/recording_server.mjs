// A fake stdio MCP server that writes down what the SDK client does to the
// server it starts: its environment, every line it sends, the end of
// standard input and the signals it sends.
//
// Usage: node recording_server.mjs <log file>
//
// Each event is appended to the log file at once, as one JSON line:
// {"event":"env","env":{...}}, {"event":"line","line":"..."},
// {"event":"stdin-end","at":<ms>} and {"event":"SIGTERM","at":<ms>} (the
// process then exits with status 0). It answers initialize with a minimal
// result so that the client completes its start-up, answers ping, and, unlike
// the bridge, keeps running when its standard input ends, so that whatever
// the client does next shows.

import { appendFileSync } from 'node:fs';
import { createInterface } from 'node:readline';

const logFile = process.argv[2];
const record = (event) => appendFileSync(logFile, `${JSON.stringify(event)}\n`);
const reply = (id, result) => {
  process.stdout.write(`${JSON.stringify({ jsonrpc: '2.0', id, result })}\n`);
};

record({ event: 'env', env: process.env });

process.on('SIGTERM', () => {
  record({ event: 'SIGTERM', at: Date.now() });
  process.exit(0);
});

const lines = createInterface({ input: process.stdin });
lines.on('line', (line) => {
  record({ event: 'line', line });
  const message = JSON.parse(line);
  if (message.method === 'initialize') {
    reply(message.id, {
      protocolVersion: message.params.protocolVersion,
      capabilities: { tools: {} },
      serverInfo: { name: 'recording-server', version: '1.0.0' },
    });
  } else if (message.method === 'ping') {
    reply(message.id, {});
  }
});
lines.on('close', () => {
  record({ event: 'stdin-end', at: Date.now() });
  // Stay alive: only a signal ends this process now.
  setInterval(() => {}, 60_000);
});

// The desktop app's side of the link played by the SDK's own server: a Unix
// socket server at the app's socket path that answers the bridge's handshake
// and then runs an SDK server on the connection, speaking newline-delimited
// JSON-RPC.

import { mkdirSync, rmSync } from 'node:fs';
import net from 'node:net';
import path from 'node:path';

import { sdk, signal, within } from './harness.mjs';

const ACCEPT = '{"ok":true}\n';

// One connection from the bridge, and the SDK transport on it. It takes the
// first line as the handshake, answers it with {"ok":true}, and from then on
// hands each line to the SDK server as one JSON-RPC message.
//
// What it saw stays readable: `handshake` (the first line, without its LF)
// and `received` (every message after it, in order, as parsed).
class AppConnection {
  constructor(socket) {
    this.socket = socket;
    this.handshake = null;
    this.received = [];
    this.handshaken = signal();
    this.closed = signal();
    this.head = Buffer.alloc(0);
    this.lines = new sdk.ReadBuffer();
    this.started = false;
    socket.on('data', (chunk) => this.take(chunk));
    socket.on('error', (error) => this.onerror?.(error));
    socket.on('close', () => {
      this.closed.resolve();
      this.onclose?.();
    });
  }

  take(chunk) {
    if (this.handshake === null) {
      this.head = Buffer.concat([this.head, chunk]);
      const end = this.head.indexOf('\n');
      if (end < 0) return;
      this.handshake = this.head.toString('utf8', 0, end);
      this.socket.write(ACCEPT);
      chunk = this.head.subarray(end + 1);
      this.handshaken.resolve(this);
    }
    this.lines.append(chunk);
    if (this.started) this.deliver();
  }

  deliver() {
    for (;;) {
      let message;
      try {
        message = this.lines.readMessage();
      } catch (error) {
        this.onerror?.(error);
        continue;
      }
      if (message === null) return;
      this.received.push(message);
      this.onmessage?.(message);
    }
  }

  // The SDK Transport interface.
  async start() {
    this.started = true;
    this.deliver();
  }

  send(message) {
    return new Promise((resolve, reject) => {
      const line = sdk.serializeMessage(message);
      this.socket.write(line, (error) => (error ? reject(error) : resolve()));
    });
  }

  async close() {
    this.socket.destroy();
  }

  // The methods of what was received, for comparing sequences.
  methods() {
    return this.received.map((message) => message.method ?? `response ${message.id}`);
  }
}

// Starts the stand-in app listening at `socket`. For every connection whose
// handshake arrives, `makeServer(connection)` builds an SDK server (McpServer
// or Server), which is connected to that connection.
//
// Returns { connection(n), stop() }: connection(n) resolves with the n-th
// connection (from 0) once its handshake was answered, within the deadline;
// stop() closes every connection and the listening socket, as the app does
// when it quits.
export async function startApp(socket, makeServer) {
  mkdirSync(path.dirname(socket), { recursive: true });
  rmSync(socket, { force: true });

  const connections = [];
  const waiters = [];
  const arrived = (n) => {
    waiters[n] ??= signal();
    return waiters[n];
  };
  const listener = net.createServer((socket) => {
    const connection = new AppConnection(socket);
    const n = connections.push(connection) - 1;
    connection.handshaken.promise.then(async () => {
      await makeServer(connection).connect(connection);
      arrived(n).resolve(connection);
    });
  });
  await new Promise((resolve, reject) => {
    listener.once('error', reject);
    listener.listen(socket, resolve);
  });

  let stopped;
  return {
    connection: (n) => within(arrived(n).promise, `connection ${n} from the bridge`),
    stop() {
      stopped ??= (async () => {
        const closing = connections.map((connection) => connection.closed.promise);
        for (const connection of connections) connection.socket.destroy();
        await new Promise((resolve) => listener.close(resolve));
        await Promise.all(closing);
        rmSync(socket, { force: true });
      })();
      return stopped;
    },
  };
}

// A TCP proxy on 127.0.0.1 that makes loopback look like a phone's Wi-Fi:
// every chunk, in each direction, waits a random 0..MAX_MS before it goes on,
// but never overtakes the chunk before it (TCP keeps order, and so must we).
//   node delay-proxy.mjs TARGET_PORT [MAX_MS]   prints its own port on stdout
// SIGUSR2 drops every connection and refuses new ones for OUTAGE_MS, then
// listens again on the same port: the network lost for a moment.
import net from 'node:net';
import { performance } from 'node:perf_hooks';

const targetPort = Number(process.argv[2]);
const maxMs = Number(process.argv[3] ?? 40);
const OUTAGE_MS = 1500;
const sockets = new Set();

function relay(from, to) {
  const queue = [];  // { at, chunk }, `at` never decreasing
  let timer = null;
  let ended = false;
  const drain = () => {
    timer = null;
    while (queue.length && queue[0].at <= performance.now()) to.write(queue.shift().chunk);
    if (queue.length) timer = setTimeout(drain, queue[0].at - performance.now());
    else if (ended) to.end();
  };
  from.on('data', (chunk) => {
    const earliest = queue.length ? queue[queue.length - 1].at : 0;
    queue.push({ at: Math.max(earliest, performance.now() + Math.random() * maxMs), chunk });
    timer ??= setTimeout(drain, queue[0].at - performance.now());
  });
  from.on('end', () => { ended = true; if (!timer) drain(); });
}

const server = net.createServer((client) => {
  const upstream = net.connect(targetPort, '127.0.0.1');
  const drop = () => { client.destroy(); upstream.destroy(); };
  for (const s of [client, upstream]) {
    sockets.add(s);
    s.on('error', drop);
    // What is still queued for the other side goes first.
    s.on('close', () => { sockets.delete(s); setTimeout(drop, maxMs + 5); });
  }
  relay(client, upstream);
  relay(upstream, client);
});
server.listen(0, '127.0.0.1', () => console.log(server.address().port));

process.on('SIGUSR2', () => {
  const { port } = server.address();
  server.close(() => setTimeout(() => server.listen(port, '127.0.0.1'), OUTAGE_MS));
  for (const s of sockets) s.destroy();
  console.error(`proxy: dropped every connection, down for ${OUTAGE_MS} ms`);
});

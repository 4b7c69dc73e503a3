// The caller's terminal: xterm.js over the board's WebSocket on this page's
// own origin. Binary frames carry the board's bytes both ways; text frames
// carry the control messages (the board's character set in, the window's
// size out), as docs/web.md describes.
import { Terminal } from '/xterm/xterm.mjs';
import { FitAddon } from '/xterm/addon-fit.mjs';
import { converters } from '/cp437.js';

const term = new Terminal({ cursorBlink: true });
const fit = new FitAddon();
term.loadAddon(fit);
term.open(document.getElementById('terminal'));
fit.fit();

const status = document.getElementById('status');
function show(text) {
  status.textContent = text;
  status.classList.add('shown');
  document.title = `Zor Gaval (${text})`;
}

const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
const socket = new WebSocket(`${scheme}//${location.host}/ws`);
socket.binaryType = 'arraybuffer';
let convert = converters('utf-8');

function sendSize() {
  if (socket.readyState === WebSocket.OPEN) {
    socket.send(JSON.stringify({ cols: term.cols, rows: term.rows }));
  }
}

socket.addEventListener('open', sendSize);
socket.addEventListener('message', (event) => {
  if (typeof event.data === 'string') {
    const control = JSON.parse(event.data);
    if (control.charset) convert = converters(control.charset);
    return;
  }
  term.write(convert.fromBoard(new Uint8Array(event.data)));
});
socket.addEventListener('close', () => show('The call has ended.'));
term.onData((text) => {
  if (socket.readyState === WebSocket.OPEN) socket.send(convert.toBoard(text));
});
window.addEventListener('resize', () => fit.fit());
term.onResize(sendSize);
term.focus();

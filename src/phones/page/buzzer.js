'use strict';
// The phone's side of a quiz-table seat. The table pings; the page answers
// with its own clock (performance.now()), and a press carries the time of the
// input event itself on that same clock, so the table can order presses by
// when they were made, however long each took to arrive.
(() => {
  const query = new URLSearchParams(location.search);
  const room = query.get('room') || '';
  // The host may hand out a seat's own address (its QR code): the page asks
  // for that seat at once instead of showing the choice.
  const givenSeat = /^\d{1,3}$/.test(query.get('seat') || '') ? Number(query.get('seat')) : -1;
  const $ = (id) => document.getElementById(id);
  const nameEl = $('name'), stateEl = $('state'), seatsEl = $('seats'), buzzer = $('buzzer');

  // The page's own name, kept across reloads so that a phone coming back
  // takes its seat again.
  let token = localStorage.getItem('zumble-token');
  if (!token || !/^[A-Za-z0-9_-]{8,64}$/.test(token)) {
    const bytes = new Uint8Array(16);
    crypto.getRandomValues(bytes);
    token = Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
    localStorage.setItem('zumble-token', token);
  }

  let socket = null;
  let seated = false;
  let refused = false;
  let lastState = '';

  const stateText = { armed: '押せます', lit: '点灯', dark: '押しました', locked: 'お手つき', idle: '待機中' };

  function show(text) { stateEl.textContent = text; }

  function send(message) {
    if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
  }

  function showSeats(seats) {
    // The buttons are kept and updated while the table has as many seats, so
    // a finger on its way to one is not lost when the list comes again.
    if (seatsEl.children.length !== seats.length) {
      seatsEl.replaceChildren(...seats.map((_, index) => {
        const b = document.createElement('button');
        b.addEventListener('click', () => send({ t: 'hello', token, seat: index }));
        return b;
      }));
    }
    seats.forEach((seat, index) => {
      const b = seatsEl.children[index];
      b.textContent = seat.name;
      b.style.background = seat.color;
      b.disabled = !seat.free;
    });
    seatsEl.hidden = false;
    buzzer.hidden = true;
    nameEl.textContent = '席を選んでください';
    show(seats.some((s) => s.free) ? '' : '空いている席がありません');
  }

  function showSeat(m) {
    seated = true;
    seatsEl.hidden = true;
    buzzer.hidden = false;
    nameEl.textContent = m.name;
    document.body.style.setProperty('--seat', m.color);
    buzzer.disabled = m.state !== 'armed';
    buzzer.classList.toggle('lit', m.state === 'lit');
    let text = stateText[m.state] || '';
    if (m.state === 'lit' && m.rank > 0) text = `${m.rank} 位`;
    if (m.state === 'dark' && m.place > 0) text = `${m.place} 番目に押しました`;
    show(text);
    document.body.dataset.state = m.state;
    document.body.dataset.rank = String(m.rank || 0);
    document.body.dataset.place = String(m.place || 0);
    if (m.state === 'lit' && lastState !== 'lit' && navigator.vibrate) navigator.vibrate(200);
    lastState = m.state;
  }

  function connect() {
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    socket = new WebSocket(`${scheme}//${location.host}/ws?room=${encodeURIComponent(room)}`);
    socket.addEventListener('open', () => {
      seated = false;
      document.body.dataset.state = 'connected';
      send({ t: 'hello', token, seat: givenSeat });
    });
    socket.addEventListener('message', (event) => {
      let m;
      try { m = JSON.parse(event.data); } catch { return; }
      if (m.t === 'ping') send({ t: 'pong', s: m.s, c: performance.now() });
      else if (m.t === 'seats') { if (!seated) showSeats(m.seats); }
      else if (m.t === 'you') showSeat(m);
      else if (m.t === 'refused') {
        refused = true;
        buzzer.disabled = true;
        document.body.dataset.state = 'refused';
        show(m.why);
      }
    });
    socket.addEventListener('close', () => {
      socket = null;
      if (refused) return;
      document.body.dataset.state = 'disconnected';
      buzzer.disabled = true;
      show('接続が切れました。つなぎ直しています…');
      setTimeout(connect, 1000);
    });
  }

  // The press's own time: when the finger touched, not when the page got round to it.
  buzzer.addEventListener('pointerdown', (event) => {
    event.preventDefault();
    if (buzzer.disabled) return;
    send({ t: 'press', at: event.timeStamp });
  });
  document.addEventListener('keydown', (event) => {
    if ((event.key === ' ' || event.key === 'Enter') && !buzzer.disabled && !buzzer.hidden) {
      event.preventDefault();
      send({ t: 'press', at: event.timeStamp });
    }
  });

  connect();
})();

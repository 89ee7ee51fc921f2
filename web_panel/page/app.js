'use strict';
// The relays live: the state comes from the event stream, a tap sends the
// wanted state (not a toggle), so a slow network never switches twice.
(() => {
  const $ = (id) => document.getElementById(id);
  const relayCount = 16;
  const buttons = [];
  let state = null;
  let events = null;
  let retry = null;
  const pending = new Set();
  const pulseButtons = [];
  let ticking = null;

  function show(part) {
    $('login').hidden = part !== 'login';
    $('panel').hidden = part !== 'panel';
    $('offline').hidden = part !== 'offline';
  }

  function announce(text) {
    const live = $('announcer');
    live.textContent = '';
    setTimeout(() => { live.textContent = text; }, 50);
  }

  function buildPanel() {
    const grid = $('relays');
    for (let n = 1; n <= relayCount; n++) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = 'Relais-' + n;
      button.setAttribute('aria-pressed', 'false');
      button.addEventListener('click', () => switchRelay(n));
      grid.appendChild(button);
      buttons.push(button);
      const pulse = document.createElement('button');
      pulse.type = 'button';
      pulse.hidden = true;
      pulse.addEventListener('click', () => pulseRelay(n));
      $('pulses').appendChild(pulse);
      pulseButtons.push(pulse);
    }
    const select = $('port');
    for (let n = 1; n <= 8; n++) {
      const option = document.createElement('option');
      option.value = 'COM ' + n;
      option.textContent = 'COM ' + n;
      select.appendChild(option);
    }
    $('start-stop').addEventListener('click', startStop);
    $('logout').addEventListener('click', logout);
    $('pause-schedules').addEventListener('click', pauseSchedules);
    $('login').addEventListener('submit', login);
  }

  // A relay's caption: its number, its name, and how long it stays on.
  function caption(i) {
    const parts = ['Relais-' + (i + 1)];
    if (state.names && state.names[i]) {
      parts.push(state.names[i]);
    }
    const end = state.off_at && state.off_at[i] ? Date.parse(state.off_at[i]) : NaN;
    if (!Number.isNaN(end)) {
      parts.push('noch ' + Math.max(0, Math.ceil((end - Date.now()) / 1000)) + ' s');
    }
    const held = state.held_until && state.held_until[i] ? new Date(state.held_until[i]) : null;
    if (held) {
      parts.push('von Hand bis ' + held.toLocaleTimeString('de-DE', { hour: '2-digit', minute: '2-digit' }));
    }
    return parts;
  }

  function showCaptions() {
    buttons.forEach((button, i) => {
      const parts = caption(i);
      button.textContent = parts[0];
      parts.slice(1).forEach((part) => {
        const line = document.createElement('span');
        line.className = 'detail';
        line.textContent = part;
        button.appendChild(line);
      });
      const length = state.pulses ? state.pulses[i] : null;
      pulseButtons[i].hidden = !length;
      pulseButtons[i].textContent = 'Impuls ' + (state.names && state.names[i] ? state.names[i] : 'Relais-' + (i + 1)) +
        (length ? ' (' + (length / 1000) + ' s)' : '');
    });
    $('pulses').hidden = !pulseButtons.some((b) => !b.hidden);
    // A countdown only while something will go off by itself.
    const counting = state.off_at && state.off_at.some((t) => t);
    if (counting && !ticking) {
      ticking = setInterval(() => state && showCaptions(), 1000);
    } else if (!counting && ticking) {
      clearInterval(ticking);
      ticking = null;
    }
  }

  async function showLog() {
    const answer = await request('GET', '/api/log');
    if (!answer.ok || !answer.json || !Array.isArray(answer.json.entries)) {
      return;
    }
    const list = $('log');
    list.textContent = '';
    answer.json.entries.slice(-20).reverse().forEach((entry) => {
      const item = document.createElement('li');
      const when = new Date(entry.time).toLocaleTimeString('de-DE');
      const what = entry.refused ? 'abgelehnt: ' + entry.refused
        : entry.relay ? 'Relais-' + entry.relay + (entry.name ? ' (' + entry.name + ')' : '') +
          (entry.new ? ' an' : ' aus')
        : entry.schedules ? (entry.schedules === 'paused' ? 'Zeitpläne pausiert' : 'Zeitpläne laufen wieder')
        : entry.link === 'running' ? 'Verbindung läuft' : 'Verbindung gestoppt';
      item.textContent = when + ' ' + what + ' – ' + entry.source;
      list.appendChild(item);
    });
  }

  // The coming switching times, from the plan the program switches by.
  async function showSchedule() {
    const box = $('schedules');
    box.hidden = state.schedules_paused === null || state.schedules_paused === undefined;
    if (box.hidden) {
      return;
    }
    const pause = $('pause-schedules');
    pause.setAttribute('aria-pressed', state.schedules_paused ? 'true' : 'false');
    const answer = await request('GET', '/api/schedule');
    if (!answer.ok || !answer.json || !Array.isArray(answer.json.entries)) {
      return;
    }
    const list = $('schedule');
    list.textContent = '';
    answer.json.entries.slice(0, 12).forEach((entry) => {
      const item = document.createElement('li');
      const when = new Date(entry.at_ms).toLocaleString('de-DE', {
        weekday: 'short', day: '2-digit', month: '2-digit', hour: '2-digit', minute: '2-digit' });
      const relay = entry.relay ? 'Relais-' + entry.relay + (entry.name ? ' (' + entry.name + ')' : '') + ' ' : '';
      item.textContent = when + ' ' + relay + entry.action + ' – ' + entry.schedule +
        (entry.warnings.length ? ' (' + entry.warnings.join('; ') + ')' : '');
      list.appendChild(item);
    });
  }

  async function pauseSchedules() {
    $('problem').textContent = '';
    try {
      shown(await request('PUT', '/api/schedules', { paused: !state.schedules_paused }));
    } catch (e) {
      offline();
    }
  }

  async function pulseRelay(n) {
    $('problem').textContent = '';
    try {
      shown(await request('POST', '/api/relays/' + n + '/pulse', {}));
    } catch (e) {
      offline();
    }
  }

  function render(next) {
    const before = state;
    state = next;
    showCaptions();
    showLog().catch(() => null);
    showSchedule().catch(() => null);
    const changes = [];
    next.relays.forEach((on, i) => {
      const button = buttons[i];
      button.setAttribute('aria-pressed', on ? 'true' : 'false');
      if (pending.has(i + 1)) {
        pending.delete(i + 1);
        button.removeAttribute('aria-busy');
      } else if (before && before.relays[i] !== on) {
        changes.push('Relais-' + (i + 1) + (on ? ' eingeschaltet' : ' ausgeschaltet'));
      }
    });
    const running = next.link === 'running';
    $('link-state').textContent = running ? 'Verbindung läuft' + (next.port ? ' (' + next.port + ')' : '')
                                          : 'Verbindung gestoppt';
    const startStopButton = $('start-stop');
    startStopButton.classList.toggle('running', running);
    if (pending.has('link')) {
      pending.delete('link');
      startStopButton.removeAttribute('aria-busy');
    } else if (before && before.link !== next.link) {
      changes.push(running ? 'Verbindung läuft' : 'Verbindung gestoppt');
    }
    if (running && next.port && next.port.startsWith('COM ')) {
      $('port').value = next.port;
    }
    if (changes.length) {
      announce(changes.join(', '));
    }
    show('panel');
  }

  async function request(method, path, body) {
    const response = await fetch(path, {
      method,
      headers: { 'Content-Type': 'application/json' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    let json = null;
    try { json = await response.json(); } catch (e) { json = null; }
    if (response.status === 401) {
      show('login');
    }
    $('logout').hidden = response.headers.get('X-Relaiskarte-Session') !== 'ja';
    return { ok: response.ok, status: response.status, json };
  }

  // A change's answer: the new state, or what went wrong.
  function shown(answer) {
    if (answer.ok) {
      render(answer.json);
    } else {
      problem(answer);
    }
  }

  function problem(answer) {
    const text = answer.json && answer.json.error ? answer.json.error : 'Fehler ' + answer.status;
    const detail = answer.json && answer.json.detail ? ' (' + answer.json.detail + ')' : '';
    $('problem').textContent = text + detail;
  }

  async function switchRelay(n) {
    if (!state || pending.has(n)) {
      return; // one tap, one change
    }
    pending.add(n);
    buttons[n - 1].setAttribute('aria-busy', 'true');
    $('problem').textContent = '';
    try {
      shown(await request('PUT', '/api/relays/' + n, { on: !state.relays[n - 1] }));
    } catch (e) {
      offline();
    } finally {
      pending.delete(n);
      buttons[n - 1].removeAttribute('aria-busy');
    }
  }

  async function startStop() {
    if (!state || pending.has('link')) {
      return;
    }
    pending.add('link');
    $('start-stop').setAttribute('aria-busy', 'true');
    $('problem').textContent = '';
    try {
      const answer = state.link === 'running'
        ? await request('DELETE', '/api/link')
        : await request('POST', '/api/link', { port: $('port').value });
      shown(answer);
    } catch (e) {
      offline();
    } finally {
      pending.delete('link');
      $('start-stop').removeAttribute('aria-busy');
    }
  }

  async function login(event) {
    event.preventDefault();
    $('login-error').textContent = '';
    const body = new URLSearchParams({ password: $('password').value });
    try {
      const response = await fetch('/login', { method: 'POST', body });
      if (response.status === 204) {
        $('password').value = '';
        connect();
        return;
      }
      const json = await response.json().catch(() => null);
      $('login-error').textContent = json && json.error ? json.error : 'Anmeldung fehlgeschlagen.';
    } catch (e) {
      offline();
    }
  }

  async function logout() {
    await fetch('/logout', { method: 'POST' }).catch(() => null);
    if (events) {
      events.close();
      events = null;
    }
    show('login');
  }

  function offline() {
    if (events) {
      events.close();
      events = null;
    }
    state = null;
    show('offline');
    clearTimeout(retry);
    retry = setTimeout(connect, 1000);
  }

  async function loadPorts() {
    const answer = await request('GET', '/api/ports');
    if (!answer.ok || !Array.isArray(answer.json)) {
      return;
    }
    const options = $('port').options;
    answer.json.forEach((port, i) => {
      options[i].textContent = port.present ? port.name : port.name + ' (nicht vorhanden)';
    });
  }

  // Asks once who we are, then follows the event stream; when the program
  // is gone, tries again every second until it is back.
  async function connect() {
    clearTimeout(retry);
    let answer;
    try {
      answer = await request('GET', '/api/state');
    } catch (e) {
      offline();
      return;
    }
    if (answer.status === 401) {
      return;
    }
    if (!answer.ok) {
      offline();
      return;
    }
    render(answer.json);
    loadPorts().catch(() => null);
    events = new EventSource('/api/events');
    events.addEventListener('state', (event) => render(JSON.parse(event.data)));
    events.onerror = () => offline();
  }

  buildPanel();
  connect();
})();

// A unit's history: every run, refusal at entry, hold and release of the unit
// named by the page's path (/units/UNIT), oldest first, as /api/units/UNIT
// gives them. Each event is a record and links to its page. Every text from
// the records goes in as text (textContent), never as markup.
'use strict';

(function () {
  const unit = decodeURIComponent(window.location.pathname.slice('/units/'.length));
  const byId = (id) => document.getElementById(id);

  // What each kind of record is in a unit's life.
  const Events = {run: 'run', entry: 'refused', hold: 'held', release: 'released'};

  function localDateTime(iso) {
    return new Date(iso).toLocaleString([], {year: 'numeric', month: '2-digit', day: '2-digit', hour: '2-digit',
      minute: '2-digit', second: '2-digit', hourCycle: 'h23'});
  }

  function cell(row, text, className) {
    const td = document.createElement('td');
    td.textContent = text;
    if (className) td.className = className;
    row.appendChild(td);
    return td;
  }

  function eventRow(event) {
    const row = document.createElement('tr');
    // A run's outcome; the other events say what they are by their name.
    const outcome = event.kind !== 'run' ? null : (event.outcome === null ? 'running' : event.outcome);
    row.className = 'kind-' + event.kind + (outcome ? ' outcome-' + outcome : '');
    const time = document.createElement('time');
    time.dateTime = event.started;
    time.textContent = localDateTime(event.started);
    const link = document.createElement('a');
    link.href = '/records/' + encodeURIComponent(event.record);
    link.appendChild(time);
    cell(row, '', 'time').appendChild(link);
    const what = Events[event.kind] || event.kind;
    cell(row, event.engineering ? what + ' (engineering)' : what, 'event');
    cell(row, event.product === null ? '–' : event.product);
    cell(row, event.operation === null ? '–' : event.operation);
    cell(row, event.station);
    cell(row, event.operator);
    cell(row, outcome || '–', 'outcome');
    cell(row, event.cause === null ? '' : event.cause);
    return row;
  }

  async function show() {
    byId('title').textContent = 'Unit ' + unit;
    document.title = 'Unit ' + unit + ' — Tamrisk';
    let events;
    try {
      const response = await fetch('/api/units/' + encodeURIComponent(unit), {cache: 'no-store'});
      const body = await response.json();
      if (!response.ok) throw new Error(body && body.error ? body.error : 'HTTP ' + response.status);
      events = body;
    } catch (failure) {
      byId('problem').textContent = 'The history cannot be read: ' + failure.message;
      byId('problem').hidden = false;
      document.body.setAttribute('data-shown', 'problem');
      return;
    }
    const tbody = document.querySelector('#history tbody');
    for (const event of events) tbody.appendChild(eventRow(event));
    if (events.length === 0) {
      byId('empty').textContent = 'The line has no run, refusal, hold or release of ' + unit + '.';
      byId('empty').hidden = false;
      byId('history').hidden = true;
    }
    document.body.setAttribute('data-shown', String(events.length));
  }

  show();
})();

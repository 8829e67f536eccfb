// A numeric check's measurements over the period the page was opened for
// (/checks/NAME?since=&until=&station=&product=&operation=), as
// /api/checks/NAME gives them: a section for each set of limits the check had,
// with its figures over every run and without the failed ones, a histogram of
// its values against its limits, the individuals chart with its control
// limits and the values that break a rule, and its newest values, each
// linking to its record. Without Chart.js the figures and tables still show.
// Every text from the records goes in as text, never as markup.
'use strict';

(function () {
  const Newest = 50;
  const byId = (id) => document.getElementById(id);
  const cell = TablePage.cell;
  const name = decodeURIComponent(window.location.pathname.slice('/checks/'.length));
  const Rules = {1: 'beyond a control limit', 2: 'nine in a row on one side of the mean'};
  const Ink = '#202124';
  const Value = '#1a73e8';
  const Broken = '#c5221f';
  const Limit = '#c5221f';
  const Centre = '#188038';
  const Control = '#e37400';

  function periodQuery() {
    const asked = new URLSearchParams(window.location.search);
    const query = new URLSearchParams();
    for (const key of ['since', 'until', 'station', 'product', 'operation']) {
      if (asked.has(key)) query.set(key, asked.get(key));
    }
    const text = query.toString();
    return text ? '?' + text : '';
  }

  function element(tag, className, text) {
    const made = document.createElement(tag);
    if (className) made.className = className;
    if (text !== undefined) made.textContent = text;
    return made;
  }

  function withUnits(value, check) {
    return value === null ? '–' : Measures.number(value) + (check.units === null ? '' : ' ' + check.units);
  }

  // The figures of every run and without the failed runs, side by side.
  function figuresTable(check) {
    const table = element('table', 'figures');
    const head = element('tr');
    for (const title of ['', 'All runs', 'Without failed runs']) head.appendChild(element('th', '', title));
    table.appendChild(element('thead')).appendChild(head);
    const body = table.appendChild(element('tbody'));
    const controlLimits = (f) => f.lower_control_limit === null ? '–'
      : withUnits(f.lower_control_limit, check) + ' .. ' + withUnits(f.upper_control_limit, check);
    const rows = [
      ['n', (f) => String(f.n)],
      ['Mean', (f) => withUnits(f.mean, check)],
      ['Standard deviation', (f) => withUnits(f.standard_deviation, check)],
      ['Minimum', (f) => withUnits(f.minimum, check)],
      ['Maximum', (f) => withUnits(f.maximum, check)],
      ['Short-term sigma (MR̄ / 1.128)', (f) => withUnits(f.short_term_sigma, check)],
      ['Cp', (f) => Measures.number(f.cp)],
      ['Cpk (95 % interval)', (f) => Measures.cpk(f), (f) => 'cpk ' + Measures.cpkClass(f)],
      ['Pp', (f) => Measures.number(f.pp)],
      ['Ppk', (f) => Measures.number(f.ppk)],
      ['Outside the limits', (f) => f.outside + ' (' + Measures.share(f.outside_share) + ')'],
      ['Marginal (within 10 % of a limit)', (f) => f.marginal === null ? '–' : String(f.marginal)],
      ['Control limits', controlLimits],
      ['Rule breaks', (f) => String(f.rule_breaks.length)],
      ['Warning', (f) => f.warning === null ? '' : f.warning, () => 'warning'],
    ];
    for (const [title, text, className] of rows) {
      const row = element('tr');
      row.appendChild(element('th', '', title));
      for (const figures of [check.all, check.without_failed])
        cell(row, text(figures), className ? className(figures) : 'number');
      body.appendChild(row);
    }
    return table;
  }

  // Bins of equal width over the values, as many as the square root of the
  // values (5 to 30), on a scale wide enough to show the limits too.
  function bins(values, check) {
    let low = Math.min(...values);
    let high = Math.max(...values);
    if (!(high > low)) {
      low -= 0.5;
      high += 0.5;
    }
    const count = Math.min(30, Math.max(5, Math.ceil(Math.sqrt(values.length))));
    const width = (high - low) / count;
    const counts = new Array(count).fill(0);
    for (const v of values) counts[Math.min(count - 1, Math.floor((v - low) / width))] += 1;
    const shown = [low, high, check.lsl, check.usl].filter((v) => v !== null);
    const margin = (Math.max(...shown) - Math.min(...shown)) * 0.05;
    return {low: Math.min(...shown) - margin, high: Math.max(...shown) + margin,
      points: counts.map((n, i) => ({x: low + (i + 0.5) * width, y: n}))};
  }

  function lineAt(label, color, from, to, dash) {
    return {type: 'line', label, data: [from, to], borderColor: color, borderWidth: 2, borderDash: dash || [],
      pointRadius: 0, fill: false};
  }

  const scale = (title, extra) => Object.assign({type: 'linear', title: {display: true, text: title, color: Ink},
    ticks: {color: Ink}}, extra || {});

  // The histogram with the limits as vertical lines.
  function drawHistogram(canvas, check) {
    const values = check.values.map((v) => v.value);
    const histogram = bins(values, check);
    const top = Math.max(...histogram.points.map((p) => p.y), 1);
    const datasets = [{type: 'bar', label: 'values', data: histogram.points, backgroundColor: '#8ab4f8',
      barPercentage: 1, categoryPercentage: 1}];
    if (check.lsl !== null) datasets.push(lineAt('LSL', Limit, {x: check.lsl, y: 0}, {x: check.lsl, y: top}));
    if (check.usl !== null) datasets.push(lineAt('USL', Limit, {x: check.usl, y: 0}, {x: check.usl, y: top}));
    return new window.Chart(canvas, {
      type: 'bar',
      data: {datasets},
      options: {
        animation: false, responsive: true, maintainAspectRatio: false,
        plugins: {legend: {labels: {color: Ink}}},
        scales: {
          x: scale(check.units === null ? 'value' : check.units, {min: histogram.low, max: histogram.high, offset: false}),
          y: scale('values', {beginAtZero: true, ticks: {color: Ink, precision: 0}}),
        },
      },
    });
  }

  // The values in time order with the mean and the control limits; a value
  // that breaks a rule drawn as a red triangle.
  function drawIndividuals(canvas, check) {
    const f = check.all;
    const broken = new Set(f.rule_breaks.map((b) => b.index));
    const values = check.values.map((v, i) => ({x: i + 1, y: v.value}));
    const last = Math.max(values.length, 2);
    const across = (label, color, y, dash) => lineAt(label, color, {x: 1, y}, {x: last, y}, dash);
    const datasets = [{
      type: 'line', label: 'value', data: values, borderColor: Value, borderWidth: 1, fill: false,
      pointStyle: values.map((v, i) => broken.has(i) ? 'triangle' : 'circle'),
      pointRadius: values.map((v, i) => broken.has(i) ? 7 : 2),
      pointBackgroundColor: values.map((v, i) => broken.has(i) ? Broken : Value),
      pointBorderColor: values.map((v, i) => broken.has(i) ? Broken : Value),
    }];
    if (f.mean !== null) datasets.push(across('mean', Centre, f.mean));
    if (f.upper_control_limit !== null) datasets.push(across('UCL', Control, f.upper_control_limit, [6, 4]));
    if (f.lower_control_limit !== null) datasets.push(across('LCL', Control, f.lower_control_limit, [6, 4]));
    return new window.Chart(canvas, {
      type: 'line',
      data: {datasets},
      options: {
        animation: false, responsive: true, maintainAspectRatio: false,
        plugins: {legend: {labels: {color: Ink}}},
        scales: {x: scale('value in time order', {min: 1, max: last, ticks: {color: Ink, precision: 0}}),
          y: scale(check.units === null ? 'value' : check.units)},
      },
    });
  }

  // Each rule break in words, in time order.
  function breaksList(check) {
    const list = element('ul', 'breaks');
    for (const b of check.all.rule_breaks) {
      const value = check.values[b.index];
      list.appendChild(element('li', 'rule-' + b.rule, 'value ' + (b.index + 1) + ' breaks rule ' + b.rule + ' (' +
        Rules[b.rule] + '): ' + withUnits(value.value, check) + ', ' + TablePage.localDateTime(value.started)));
    }
    return list;
  }

  // The newest values first, each linking to its record.
  function newestTable(check) {
    const table = element('table', 'history newest');
    const head = element('tr');
    for (const title of ['Time', 'Value', 'Unit', 'Station', 'Run']) head.appendChild(element('th', '', title));
    table.appendChild(element('thead')).appendChild(head);
    const body = table.appendChild(element('tbody'));
    for (const value of check.values.slice(-Newest).reverse()) {
      const row = element('tr', value.failed ? 'outcome-fail' : '');
      const link = element('a');
      link.href = '/records/' + encodeURIComponent(value.record);
      const time = element('time', '', TablePage.localDateTime(value.started));
      time.dateTime = value.started;
      link.appendChild(time);
      cell(row, '', 'time').appendChild(link);
      cell(row, withUnits(value.value, check), 'number');
      cell(row, value.unit === null ? '–' : value.unit);
      cell(row, value.station);
      cell(row, value.failed ? 'failed' : '', 'outcome');
      body.appendChild(row);
    }
    return table;
  }

  function section(check, index, charted) {
    const part = element('section', 'group');
    part.dataset.lsl = String(check.lsl);
    part.dataset.usl = String(check.usl);
    part.appendChild(element('h2', '', 'Limits ' + Measures.limits(check)));
    if (check.not_numbers > 0)
      part.appendChild(element('p', 'quiet', check.not_numbers + ' values found were no number: left out'));
    part.appendChild(figuresTable(check));
    if (charted) {
      const charts = part.appendChild(element('div', 'measure-charts'));
      const histogram = charts.appendChild(element('div', 'measure-chart'));
      histogram.appendChild(element('h3', '', 'Histogram'));
      const histogramCanvas = histogram.appendChild(element('div', 'canvas')).appendChild(element('canvas'));
      histogramCanvas.id = 'histogram-' + index;
      const individuals = charts.appendChild(element('div', 'measure-chart'));
      individuals.appendChild(element('h3', '', 'Individuals'));
      const individualsCanvas = individuals.appendChild(element('div', 'canvas')).appendChild(element('canvas'));
      individualsCanvas.id = 'individuals-' + index;
    }
    part.appendChild(element('h3', '', 'Rule breaks'));
    if (check.all.rule_breaks.length === 0) part.appendChild(element('p', 'quiet', 'No value breaks a rule.'));
    else part.appendChild(breaksList(check));
    part.appendChild(element('h3', '', 'Newest values'));
    part.appendChild(newestTable(check));
    return part;
  }

  async function show() {
    byId('title').textContent = name;
    document.title = name + ' — Tamrisk';
    byId('back').href = '/' + periodQuery();
    let answer;
    try {
      const response = await fetch('/api/checks/' + encodeURIComponent(name) + periodQuery(), {cache: 'no-store'});
      answer = await response.json();
      if (!response.ok) throw new Error(answer && answer.error ? answer.error : 'HTTP ' + response.status);
    } catch (failure) {
      byId('problem').textContent = 'The measurements cannot be read: ' + failure.message;
      byId('problem').hidden = false;
      document.body.setAttribute('data-shown', 'problem');
      return;
    }
    byId('period').textContent = TablePage.localDateTime(answer.since) + ' – ' + TablePage.localDateTime(answer.until);
    const charted = typeof window.Chart === 'function';
    const groups = byId('groups');
    if (answer.checks.length > 1) {
      groups.appendChild(element('p', 'quiet', 'The limits changed within the period: ' + answer.checks.length +
        ' sets of limits, each judged on its own values.'));
    }
    answer.checks.forEach((check, index) => {
      groups.appendChild(section(check, index, charted));
      if (charted && check.values.length > 0) {
        drawHistogram(byId('histogram-' + index), check);
        drawIndividuals(byId('individuals-' + index), check);
      }
    });
    if (answer.checks.length === 0) {
      byId('empty').textContent = 'No run of the period found a value for ' + name + '.';
      byId('empty').hidden = false;
    }
    document.body.setAttribute('data-shown', String(answer.checks.length));
  }

  show();
})();

// What the line's page and a check's page share about a numeric check as
// /api/capability and /api/checks/NAME give it: its figures as text, its limits
// as a script writes them, the colour its Cpk earns, and a small line of its
// values against its limits. Every text goes in as text, never as markup.
'use strict';

const Measures = (function () {
  const Svg = 'http://www.w3.org/2000/svg';
  // A Cpk from this up is capable; below Capable marginal, below Marginal not capable.
  const Capable = 1.33;
  const Marginal = 1.0;

  function number(value) {
    if (value === null || value === undefined) return '–';
    return value.toLocaleString('en-US', {maximumFractionDigits: 3, useGrouping: false});
  }

  function withUnits(text, check) {
    return check.units === null ? text : text + ' ' + check.units;
  }

  // The limits as the check line gave them: "4.75..5.25 V", "<= 4096 bytes".
  function limits(check) {
    if (check.lsl !== null && check.usl !== null) return withUnits(number(check.lsl) + '..' + number(check.usl), check);
    if (check.usl !== null) return withUnits((check.usl_strict ? '< ' : '<= ') + number(check.usl), check);
    if (check.lsl !== null) return withUnits((check.lsl_strict ? '> ' : '>= ') + number(check.lsl), check);
    return '–';
  }

  // Cpk and its 95 % interval: "1.52 [1.18, 1.86]".
  function cpk(figures) {
    if (figures.cpk === null) return '–';
    const text = figures.cpk.toFixed(2);
    if (figures.cpk_low === null || figures.cpk_high === null) return text;
    return text + ' [' + figures.cpk_low.toFixed(2) + ', ' + figures.cpk_high.toFixed(2) + ']';
  }

  // Grey while there are too few values to judge (or no Cpk), else red below
  // 1.0, amber below 1.33, green from 1.33.
  function cpkClass(figures) {
    if (figures.warning !== null || figures.cpk === null) return 'cpk-unjudged';
    if (figures.cpk < Marginal) return 'cpk-poor';
    if (figures.cpk < Capable) return 'cpk-marginal';
    return 'cpk-capable';
  }

  function share(value) {
    return value === null ? '–' : (value * 100).toFixed(1) + ' %';
  }

  // The one group of `answer` (an /api/checks/NAME answer) with `check`'s limits.
  function sameLimits(answer, check) {
    return answer.checks.find((c) => c.lsl === check.lsl && c.usl === check.usl &&
      c.lsl_strict === check.lsl_strict && c.usl_strict === check.usl_strict && c.units === check.units);
  }

  // A line of `values` (numbers, oldest first) between its limits, drawn as
  // dashed lines, `width` x `height` pixels.
  function sparkline(values, check, width, height) {
    const svg = document.createElementNS(Svg, 'svg');
    svg.setAttribute('class', 'sparkline');
    svg.setAttribute('width', String(width));
    svg.setAttribute('height', String(height));
    svg.setAttribute('viewBox', '0 0 ' + width + ' ' + height);
    const bounds = values.concat([check.lsl, check.usl].filter((v) => v !== null));
    let low = Math.min(...bounds);
    let high = Math.max(...bounds);
    if (!(high > low)) {
      low -= 1;
      high += 1;
    }
    const pad = 2;
    const y = (v) => pad + (high - v) / (high - low) * (height - 2 * pad);
    const x = (i) => values.length < 2 ? width / 2 : pad + i * (width - 2 * pad) / (values.length - 1);
    for (const limit of [check.lsl, check.usl]) {
      if (limit === null) continue;
      const line = document.createElementNS(Svg, 'line');
      line.setAttribute('class', 'limit');
      line.setAttribute('x1', '0');
      line.setAttribute('x2', String(width));
      line.setAttribute('y1', y(limit).toFixed(1));
      line.setAttribute('y2', y(limit).toFixed(1));
      svg.appendChild(line);
    }
    const path = document.createElementNS(Svg, 'polyline');
    path.setAttribute('points', values.map((v, i) => x(i).toFixed(1) + ',' + y(v).toFixed(1)).join(' '));
    svg.appendChild(path);
    svg.dataset.points = String(values.length);
    return svg;
  }

  return {number, limits, cpk, cpkClass, share, sameLimits, sparkline};
})();

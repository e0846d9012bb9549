// Writes data/script_regexp_matches.txt: the matches that the JavaScript
// RegExp of node finds for the program's two patterns, and for a pattern
// anchored at line starts, over generated subjects, with the flags
// RegexObject uses by default (ignore case, multi-line, global), and what
// a global replace with that last pattern gives. regex_object_test checks
// RegexObject against it.
//
// Run once with `node tests/regex/generate_fixture.js` and commit the
// output; the test itself needs no node.
//
// Subjects use only characters that GBK can hold, and never CR, U+2028 or
// U+2029, which JavaScript's "." refuses while RegexObject's "." takes them.
//
// File format, one record a line, fields separated by a tab:
//   pattern <id> <pattern as UTF-16 units in hex>
//   subject <pattern id> <subject as UTF-16 units in hex> <matches>
//   replace <pattern id> <subject> <replacement> <result>, all three as
//     UTF-16 units in hex
// where <matches> lists "start-end" of each match in UTF-16 units,
// followed by "/start-end" for each capture group ("/-" when the group took
// no part), matches separated by ";" ("none" when there is none).
'use strict';

const fs = require('fs');
const path = require('path');

const patterns = ['traceId":".*?"', '<meta.+?charset=[^\\w]?([-\\w]+)', '^(\\w*)'];
// Replacements for the global replace with the last pattern.
const replacements = ['-', '[$1]', "<$&|$`|$'>", '$$1$2'];

// Pieces that make matches likely, near-misses, case changes, line feeds,
// quotes, CJK text and empty values.
const fragments = [
    'traceId":"', 'TRACEID":"', 'TraceId":"', 'traceid', 'trace', 'Id":"', '":"', '"', '""',
    '<meta', '<META', '<meta ', ' charset=', 'CHARSET=', 'charset', 'http-equiv="Content-Type" ',
    'content="text/html; ', "'", '=', 'utf-8', 'GBK', 'gb2312', '-', '_', '--', ' ', '\n', '\n\n',
    '\t', '>', '<', ':', '/', 'a', 'Z', '9', '\u4e2d\u6587', '\u56fe', '\uff0c', '\u00e9', '\u3000',
    '\u00b7', 'x1y2', '{', '}',
];

// Pieces drawn more often for each pattern, so that many subjects match.
const favoured = [
    ['traceId":"', 'TRACEID":"', '"', '\n'],
    ['<meta ', '<META', 'charset=', '"', "'", 'utf-8', '\n'],
    ['\n', '\n\n', 'a', 'x1y2', ' '],
];

// Deterministic pseudo-random numbers (mulberry32), so that the fixture is
// the same on every run.
function random_generator(seed) {
    let state = seed >>> 0;
    return () => {
        state = (state + 0x6d2b79f5) >>> 0;
        let t = state;
        t = Math.imul(t ^ (t >>> 15), t | 1);
        t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
        return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
    };
}

function to_hex(text) {
    let hex = '';
    for (let i = 0; i < text.length; ++i) {
        hex += text.charCodeAt(i).toString(16).padStart(4, '0');
    }
    return hex;
}

function describe_matches(pattern, subject) {
    const regexp = new RegExp(pattern, 'dgim');
    const found = [];
    for (const match of subject.matchAll(regexp)) {
        let item = `${match.indices[0][0]}-${match.indices[0][1]}`;
        for (let g = 1; g < match.indices.length; ++g) {
            const group = match.indices[g];
            item += group === undefined ? '/-' : `/${group[0]}-${group[1]}`;
        }
        found.push(item);
    }
    return found.length === 0 ? 'none' : found.join(';');
}

function pick(random, list) {
    return list[Math.floor(random() * list.length)];
}

function generate_subjects(random, count, favourites) {
    const subjects = [''];
    for (let n = 1; n < count; ++n) {
        const pieces = Math.floor(random() * 24);
        let subject = '';
        for (let p = 0; p < pieces; ++p) {
            subject += random() < 0.3 ? pick(random, favourites) : pick(random, fragments);
        }
        subjects.push(subject);
    }
    return subjects;
}

const lines = [];
patterns.forEach((pattern, id) => lines.push(`pattern\t${id}\t${to_hex(pattern)}`));
patterns.forEach((pattern, id) => {
    const random = random_generator(20240601 + id);
    for (const subject of generate_subjects(random, 300, favoured[id])) {
        if (/[\r\u2028\u2029]/.test(subject)) {
            throw new Error('subject holds a line terminator that "." treats differently');
        }
        lines.push(`subject\t${id}\t${to_hex(subject)}\t${describe_matches(pattern, subject)}`);
    }
});
const line_start = patterns.length - 1;
generate_subjects(random_generator(20261211), 100, favoured[line_start]).forEach((subject, n) => {
    const replacement = replacements[n % replacements.length];
    const result = subject.replace(new RegExp(patterns[line_start], 'gim'), replacement);
    lines.push(`replace\t${line_start}\t${to_hex(subject)}\t${to_hex(replacement)}\t${to_hex(result)}`);
});

const output = path.join(__dirname, 'data', 'script_regexp_matches.txt');
fs.writeFileSync(output, lines.join('\n') + '\n');
console.log(`wrote ${lines.length} lines to ${output}`);

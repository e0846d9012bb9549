// node's RegExp on the page of regex_bench.cpp: the picture-identifier
// pattern with the flags "gim", then every match text read. Measured twice:
// on the page as a ready string, and from the page's GBK bytes (decoded with
// TextDecoder first), which is what BM_PictureIdentifierHarvest does.
// Run: node bench/regex/node_regexp_bench.js
'use strict';

const pattern = 'traceId":".*?"';
const identifiers = 50;

function filler_block() {
    // Same text as regex_bench.cpp; each CJK character stands for two GBK
    // bytes there, so the padding counts it twice.
    let block = '<div class="note-content"><span class="desc">\u4e2d\u6587\u7b14\u8bb0' +
        '\u5185\u5bb9\uff0c\u56fe\u7247</span>{"imageScene":"WB_DFT","url":' +
        '"http://picture.example/notes_pre_post/abcdefghij","width":1080,"height":1440,' +
        '"livePhoto":false,"fileId":""}</div>\n';
    const gbk_length = (text) => [...text].reduce((n, c) => n + (c.charCodeAt(0) > 0x7f ? 2 : 1), 0);
    while (gbk_length(block) < 512) {
        block += '<i class="tag">#\u4e2d\u6587</i>';
    }
    // Cut to 512 GBK bytes, then pad with spaces (the cut never splits a
    // character here: the tail is ASCII).
    let cut = '';
    for (const c of block) {
        if (gbk_length(cut + c) > 512) break;
        cut += c;
    }
    return cut + ' '.repeat(512 - gbk_length(cut));
}

function note_page() {
    const block = filler_block();
    const parts = [];
    let count = 0;
    for (let b = 1; b <= 4096; ++b) {
        parts.push(block);
        if (b % 80 === 0 && count < identifiers) {
            parts.push(`"traceId":"1040g2sg3${1000000 + count}",`);
            ++count;
        }
    }
    return parts.join('');
}

function harvest(page) {
    const regexp = new RegExp(pattern, 'gim');
    const found = [];
    for (const match of page.matchAll(regexp)) {
        found.push(match[0]);
    }
    return found;
}

// GBK bytes of the page: ASCII stays, the few CJK characters map by table.
const gbk = {
    '\u4e2d': [0xd6, 0xd0], '\u6587': [0xce, 0xc4], '\u7b14': [0xb1, 0xca], '\u8bb0': [0xbc, 0xc7],
    '\u5185': [0xc4, 0xda], '\u5bb9': [0xc8, 0xdd], '\uff0c': [0xa3, 0xac], '\u56fe': [0xcd, 0xbc],
    '\u7247': [0xc6, 0xac],
};
function to_gbk(text) {
    const bytes = [];
    for (const c of text) {
        if (c.charCodeAt(0) < 0x80) {
            bytes.push(c.charCodeAt(0));
        } else {
            bytes.push(...gbk[c]);
        }
    }
    return Uint8Array.from(bytes);
}

function measure(name, run) {
    for (let i = 0; i < 20; ++i) run();  // warm-up
    const rounds = 200;
    const times = [];
    const cpu_start = process.cpuUsage();
    for (let i = 0; i < rounds; ++i) {
        const start = process.hrtime.bigint();
        const found = run();
        times.push(Number(process.hrtime.bigint() - start) / 1e6);
        if (found.length !== identifiers) throw new Error('wrong number of identifiers');
    }
    const cpu = process.cpuUsage(cpu_start);
    times.sort((a, b) => a - b);
    const mean = times.reduce((a, b) => a + b, 0) / rounds;
    const cpu_mean = (cpu.user + cpu.system) / 1000 / rounds;
    console.log(`${name}: wall mean ${mean.toFixed(3)} ms, median ${times[rounds >> 1].toFixed(3)} ms, ` +
                `min ${times[0].toFixed(3)} ms; CPU mean ${cpu_mean.toFixed(3)} ms (${rounds} rounds)`);
}

const page = note_page();
const page_bytes = to_gbk(page);
const decoder = new TextDecoder('gbk');
if (decoder.decode(page_bytes) !== page) {
    throw new Error('GBK round trip differs');
}
console.log(`page: ${page.length} UTF-16 units, ${page_bytes.length} GBK bytes`);
measure('harvest on the string', () => harvest(page));
measure('decode GBK + harvest', () => harvest(decoder.decode(page_bytes)));

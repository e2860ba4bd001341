#!/usr/bin/env bash
# Writes a music-like test signal as a 16-bit stereo 44.1 kHz WAV file:
#   make-signal.sh OUTPUT SECONDS
# The first 30 seconds: 12 s of plucked chords (C, Am, F, G), a 6 s sweep from 100 Hz to
# 8 kHz, 6 s of noise under a tone, 1 s of silence, 5 s of chords over soft noise. Longer
# signals repeat it. Needs only ffmpeg.
set -euo pipefail
out=$1
seconds=${2:-30}

# The root of the chord of each two-second step, and a major triad on it.
root='if(lt(mod(floor(t/2),4),1),261.63,if(lt(mod(floor(t/2),4),2),220,if(lt(mod(floor(t/2),4),3),174.61,196)))'
chord() { # detune
    echo "(0.20*sin(2*PI*$root*$1*t)+0.15*sin(2*PI*$root*$1*1.25*t)+0.12*sin(2*PI*$root*$1*1.5*t)+0.05*sin(2*PI*$root*$1*2*t))*exp(-1.3*mod(t,2))"
}
sweep='0.35*sin(2*PI*(100*(t-12)+(7900/12)*(t-12)*(t-12)))'
channel() { # detune noise-index
    local noise="(2*random($2)-1)"
    echo "if(lt(t,12),$(chord "$1"),if(lt(t,18),$sweep,if(lt(t,24),0.25*$noise+0.1*sin(2*PI*440*$1*t),if(lt(t,25),0,0.8*$(chord "$1")+0.02*$noise))))"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -nostdin -v error -y -f lavfi \
    -i "aevalsrc=exprs='$(channel 1 0)|$(channel 1.003 1)':s=44100:d=30" \
    -c:a pcm_s16le "$work/piece.wav"
if [ "$seconds" -le 30 ]; then
    ffmpeg -nostdin -v error -y -i "$work/piece.wav" -t "$seconds" -c:a pcm_s16le "$out"
else
    loops=$(((seconds + 29) / 30 - 1))
    ffmpeg -nostdin -v error -y -stream_loop "$loops" -i "$work/piece.wav" -t "$seconds" \
        -c:a pcm_s16le "$out"
fi

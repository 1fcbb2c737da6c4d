# The benchmark plot: extraction time against payload size per method (left), nicburn's time
# against the number of adapters (right). Called by bench.sh with datadir and output set.
set terminal pngcairo size 1400,560 font ",10"
set output output
set datafile missing "?"
set multiplot layout 1,2

set title "Extraction time against payload size (median, warm cache)"
set xlabel "payload (MiB)"
set ylabel "seconds"
set logscale xy
set key top left
set grid
plot for [i=2:9] datadir."/sizes.dat" using 1:i with linespoints lw 2 pt 7 title columnhead(i) noenhanced

unset logscale
set title "nicburn against simulated adapters (median)"
set xlabel "adapters"
set ylabel "seconds"
set key top left
plot datadir."/adapters.dat" using 1:2 with linespoints lw 2 pt 7 title "nicburn -v", \
     datadir."/adapters.dat" using 1:3 with linespoints lw 2 pt 7 title "update run"
unset multiplot

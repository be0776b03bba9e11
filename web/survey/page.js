(function(){
var table=document.getElementById('station-table');
var info=JSON.parse(table.getAttribute('data-page'));
var NS=document.querySelector('svg.chart').namespaceURI;
function key(body,col){var cell=body.rows[0].cells[col];var v=cell.getAttribute('data-value');if(v===null)v=cell.textContent.trim();
if(/^-?[0-9]*\.?[0-9]+$/.test(v)){return{n:parseFloat(v)}}return{s:v}}
function compare(a,b){if(a.n!==undefined&&b.n!==undefined)return a.n-b.n;if(a.n!==undefined)return -1;if(b.n!==undefined)return 1;
return a.s<b.s?-1:a.s>b.s?1:0}
function num(v){if(v===null||!isFinite(v))return null;var a=Math.abs(v);var s=v.toFixed(a>=1000?0:a>=100?1:a>=10?2:3);
return /^-?[0.]+$/.test(s)?s.replace('-',''):s}
function el(tag,attrs,text,parent){var e=document.createElementNS(NS,tag);for(var k in attrs)e.setAttribute(k,attrs[k]);
if(text!==undefined&&text!==null)e.textContent=text;if(parent)parent.appendChild(e);return e}
function axis(high,steps){if(!(high>0))high=1;var raw=high/steps,p=Math.pow(10,Math.floor(Math.log10(raw))),step=p;
var m=[1,2,5,10];for(var i=0;i<m.length;i++)if(m[i]*p>=raw){step=m[i]*p;break}
var ticks=[];var n=Math.min(Math.ceil(high/step-1e-9),100);for(var k=0;k<=n;k++)ticks.push(k*step);return{high:n*step,step:step,ticks:ticks}}
function tick(v,step){var d=Math.max(0,-Math.floor(Math.log10(step)+1e-9));return v.toFixed(d)}
function basin(o,d,station){
var m=d[7],c=d[8],n=Math.min(o.length,m.length,c.length),r=[];
for(var i=0;i<n;i++)r.push(m[i]===null||c[i]===null?null:m[i]>0.01?100*(m[i]-c[i])/m[i]:0);
var label='Basin of station '+station+', drop '+d[0];
var svg=el('svg',{'class':'basin',viewBox:'0 0 420 230',role:'img','aria-label':label});el('title',{},label,svg);
if(n===0)return svg;
var xh=0,yh=0;for(var k=0;k<n;k++){if(o[k]!==null)xh=Math.max(xh,o[k]);if(m[k]!==null)yh=Math.max(yh,m[k]);if(c[k]!==null)yh=Math.max(yh,c[k])}
var xa=axis(xh,5),ya=axis(yh,4);
// The first sensor sits 8 px inside the frame, so its residual bar is drawn whole.
function X(v){return 64+v/xa.high*336}function Y(v){return 12+v/ya.high*126}
el('rect',{'class':'plot-area',x:56,y:12,width:352,height:126},null,svg);
xa.ticks.forEach(function(v){el('text',{'class':'tick',x:X(v).toFixed(1),y:150,'text-anchor':'middle'},tick(v,xa.step),svg)});
ya.ticks.forEach(function(v){var y=Y(v).toFixed(1);el('line',{'class':'grid',x1:56,y1:y,x2:408,y2:y},null,svg);
el('text',{'class':'tick',x:50,y:(Y(v)+4).toFixed(1),'text-anchor':'end'},tick(v,ya.step),svg)});
el('text',{'class':'axis-title',x:12,y:80,transform:'rotate(-90 12 80)','text-anchor':'middle'},info.deflection,svg);
var pts=[];for(k=0;k<n;k++)if(o[k]!==null&&c[k]!==null)pts.push(X(o[k]).toFixed(1)+','+Y(c[k]).toFixed(1));
el('polyline',{'class':'calculated',stroke:'#0072B2',points:pts.join(' ')},null,svg);
for(k=0;k<n;k++){if(o[k]===null||m[k]===null)continue;var p=el('circle',{cx:X(o[k]).toFixed(1),cy:Y(m[k]).toFixed(1),r:3.5,fill:'#000000'},null,svg);
el('title',{},'Sensor '+(k+1)+' at '+num(o[k])+' '+info.length+': measured '+num(m[k])+', calculated '+(c[k]===null?'none':num(c[k]))+' '+info.deflection,p)}
var scale=info.residualScale,zero=192,half=24;
el('line',{'class':'zero',x1:56,y1:zero,x2:408,y2:zero},null,svg);
el('text',{'class':'tick',x:50,y:zero-half+4,'text-anchor':'end'},'+'+scale+' %',svg);
el('text',{'class':'tick',x:50,y:zero+half+4,'text-anchor':'end'},'\u2212'+scale+' %',svg);
el('text',{'class':'tick',x:232,y:226,'text-anchor':'middle'},'residual per sensor, one scale for all drops',svg);
for(k=0;k<n&&k<r.length;k++){if(o[k]===null||r[k]===null)continue;var h=Math.min(Math.abs(r[k])/scale,1)*half;
var bar=el('rect',{x:(X(o[k])-4).toFixed(1),y:(r[k]>=0?zero-h:zero).toFixed(1),width:8,height:Math.max(h,0.5).toFixed(1),fill:'#CC79A7'},null,svg);
el('title',{},'Sensor '+(k+1)+': residual '+r[k].toFixed(1)+' %',bar)}
var g=el('g',{'class':'basin-legend'},null,svg);el('circle',{cx:322,cy:108,r:3.5,fill:'#000000'},null,g);
el('text',{'class':'legend',x:330,y:112},'measured',g);el('line',{x1:315,y1:124,x2:329,y2:124,stroke:'#0072B2','stroke-width':2},null,g);
el('text',{'class':'legend',x:330,y:128},'calculated',g);
el('text',{'class':'tick',x:408,y:163,'text-anchor':'end'},'offset ('+info.length+')',svg);
return svg}
function row(t,head,text,cls){var tr=t.insertRow();var th=document.createElement('th');th.scope='row';th.textContent=head;tr.appendChild(th);
var td=tr.insertCell();if(cls)td.className=cls;if(text!==null)td.textContent=text;return td}
function draw(tr){if(tr.getAttribute('data-drawn'))return;tr.setAttribute('data-drawn','1');
var holder=tr.cells[0],data=JSON.parse(holder.querySelector('.drop-data').textContent),o=data[0]||info.offsets;
var station=tr.parentNode.rows[0].cells[1].textContent;
data[1].forEach(function(d){var div=document.createElement('div');div.className='drop';
var t=document.createElement('table');t.className='drop-table';row(t,'Drop',String(d[0]));row(t,'Load ('+info.load+')',num(d[1]));
d[2].forEach(function(e,j){row(t,'E'+(j+1)+' ('+info.modulus+')',e===null?'none':num(e))});
if(info.adjusted!==null)row(t,'E1 adjusted to '+info.adjusted+' ('+info.modulus+')',d[3]===null?'none':num(d[3]));
row(t,'RMS (%)',d[4]===null?'none':d[4].toFixed(2));row(t,'Convergence',info.convergence[d[5]]||'','text');
if(d[6].length){var cell=row(t,'Flags',null,'text');d[6].forEach(function(f){var s=document.createElement('span');s.className='flag';
s.textContent=f[0]+(f[1]?': '+f[1]:'');cell.appendChild(s)})}
div.appendChild(t);div.appendChild(basin(o,d,station));holder.appendChild(div)})}
function fold(button,open){var tr=document.getElementById(button.getAttribute('aria-controls'));if(open)draw(tr);tr.hidden=!open;
button.setAttribute('aria-expanded',open?'true':'false');button.textContent=open?'\u2212':'+'}
table.addEventListener('click',function(e){
var button=e.target.closest('button.fold');
if(button){fold(button,button.getAttribute('aria-expanded')!=='true');return}
var th=e.target.closest('th[data-col]');if(!th)return;
var col=parseInt(th.getAttribute('data-col'),10);var up=th.getAttribute('aria-sort')!=='ascending';
var heads=table.querySelectorAll('th[data-col]');for(var i=0;i<heads.length;i++)heads[i].removeAttribute('aria-sort');
th.setAttribute('aria-sort',up?'ascending':'descending');
var bodies=Array.prototype.slice.call(table.tBodies);
bodies.sort(function(a,b){var c=compare(key(a,col),key(b,col));if(c===0)c=a.getAttribute('data-order')-b.getAttribute('data-order');else if(!up)c=-c;return c});
for(var j=0;j<bodies.length;j++)table.appendChild(bodies[j]);
});
var all=document.getElementById('unfold-all');
if(all)all.addEventListener('click',function(){var open=all.getAttribute('aria-expanded')!=='true';
var buttons=table.querySelectorAll('button.fold');for(var i=0;i<buttons.length;i++)fold(buttons[i],open);
all.setAttribute('aria-expanded',open?'true':'false');all.textContent=open?'Fold all drops':'Unfold all drops'});
document.body.setAttribute('data-script','ready');
})();
